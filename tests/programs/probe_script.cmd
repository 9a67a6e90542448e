@echo off
rem Payload of the batch packages: appends the folder it works in and then each argument as the
rem batch reads it (%%1, its quotes kept), a line each, to the file named by PROBE_RECORD with
rem ".batch" added.
>>"%PROBE_RECORD%.batch" echo %CD%
:next
if "%~1"=="" goto end
>>"%PROBE_RECORD%.batch" echo %1
shift
goto next
:end
