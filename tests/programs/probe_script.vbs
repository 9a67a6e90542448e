' Payload of the host-program packages: appends what the host program was given to the record
' named by PROBE_RECORD, in the probe's line format.
Dim shell, fso, record, i
Set shell = CreateObject("WScript.Shell")
Set fso = CreateObject("Scripting.FileSystemObject")
Set record = fso.OpenTextFile(shell.ExpandEnvironmentStrings("%PROBE_RECORD%"), 8, True)
Sub Line(name, value)
  record.WriteLine name & "=" & Replace(CStr(value), "\", "\\")
End Sub
record.WriteLine "begin"
Line "Host", WScript.FullName
Line "Script", WScript.ScriptFullName
Line "CurrentFolder", shell.CurrentDirectory
Line "ArgumentCount", WScript.Arguments.Count
For i = 0 To WScript.Arguments.Count - 1
  Line "Argument" & i, WScript.Arguments(i)
Next
Line "end", ""
record.Close
