// Payload of the host-program packages: appends what the host program was given to the record
// named by PROBE_RECORD, in the probe's line format.
var shell = new ActiveXObject("WScript.Shell");
var fso = new ActiveXObject("Scripting.FileSystemObject");
var record = fso.OpenTextFile(shell.ExpandEnvironmentStrings("%PROBE_RECORD%"), 8, true);
function Line(name, value) { record.WriteLine(name + "=" + String(value).replace(/\\/g, "\\\\")); }
record.WriteLine("begin");
Line("Host", WScript.FullName);
Line("Script", WScript.ScriptFullName);
Line("CurrentFolder", shell.CurrentDirectory);
Line("ArgumentCount", WScript.Arguments.length);
for (var i = 0; i < WScript.Arguments.length; i++) Line("Argument" + i, WScript.Arguments(i));
Line("end", "");
record.Close();
