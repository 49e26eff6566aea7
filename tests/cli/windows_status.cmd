@echo off
rem Exit statuses as batch files see them, and a pipe into /dev/stdin; run
rem by windows_cmd.cmake in a folder that holds tapnames.exe and special.tap.
tapnames.exe >NUL
echo help %ERRORLEVEL%
tapnames.exe missing.tap >NUL 2>NUL
echo missing %ERRORLEVEL%
tapnames.exe . >NUL 2>NUL
echo directory %ERRORLEVEL%
tapnames.exe missing.tap >NUL 2>NUL
if errorlevel 1 (echo missing: errorlevel 1) else (echo missing: success)
tapnames.exe -a special.tap >NUL
if errorlevel 1 (echo scan: errorlevel 1) else (echo scan: success)
type special.tap | tapnames.exe -a /dev/stdin
echo pipe %ERRORLEVEL%
