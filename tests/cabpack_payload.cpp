// The program a test package flags to be run: it writes the arguments it was given into the
// file that its last argument names, so that a test sees the package really ran it.
#include <cstdio>

int main(int argc, char** argv) {
  if (argc < 2) return 0;
  std::FILE* f = std::fopen(argv[argc - 1], "wb");
  if (!f) return 1;
  for (int i = 1; i < argc; ++i) std::fprintf(f, "%s\n", argv[i]);
  return std::fclose(f) == 0 ? 0 : 1;
}
