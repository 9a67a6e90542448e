#include "packager/package_cli.h"

#include <chrono>
#include <iomanip>

#include "packager/pack.h"
#include "packager/read_package.h"
#include "packager/switches.h"
#include "packager/text.h"

int RunCabpack(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool showProgress) {
  if (args.empty()) {
    err << Usage << "cabpack --help tells more.\n";
    return 2;
  }
  auto started = std::chrono::steady_clock::now();
  Settings settings;
  settings.ShowProgress = showProgress;
  Failure failure;
  PackStats stats;
  bool ok = ParseArguments(args, settings, failure);
  if (!settings.Quiet)
    for (const std::string& warning : settings.Warnings) err << "cabpack: warning: " << warning << "\n";
  if (ok) {
    failure.Code = 1;
    if (settings.Help || settings.PrintVersion || settings.ManPage || settings.BashCompletion) {
      out << (settings.Help             ? HelpText()
              : settings.ManPage        ? ManPageText()
              : settings.BashCompletion ? BashCompletionText()
                                        : std::string("cabpack ") + CABPACK_VERSION + "\n");
      ok = bool(out.flush());
      if (!ok) failure.Message = "cannot write to standard output";
    } else if (!settings.List.empty()) {
      ok = List(settings, out, failure) && out.flush();
      if (!ok && failure.Message.empty()) failure.Message = "cannot write the listing";
    } else if (!settings.SaveCab.empty()) {
      ok = SaveCabinet(settings, failure);
    } else if ((ok = Pack(settings, stats, err, failure)) && !settings.Quiet) {
      double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
      out << "made \"" << settings.Output << "\": " << Counted(stats.Files, "file") << ", " << stats.BytesIn << " bytes in, "
          << stats.BytesOut << " bytes out, ratio " << std::fixed << std::setprecision(2)
          << (stats.BytesIn ? double(stats.BytesOut) / double(stats.BytesIn) : 0.0) << ", " << seconds << " s";
      if (stats.Excluded) out << "; " << stats.Excluded << " left out by --exclude";
      out << "\n";
    }
  }
  if (ok) return 0;
  err << "cabpack: " << failure.Message << "\n";
  if (failure.Code == 2) err << Usage << "cabpack --help tells more.\n";
  return failure.Code;
}
