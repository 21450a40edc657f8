@echo off
rem Runs Mirvane.exe from this folder with the arguments given and shows its
rem answer and the error level. Started by a double click, the window would
rem close at once: then wait for a key so that the answer can be read.
setlocal
"%~dp0Mirvane.exe" %*
set "MirvaneStatus=%errorlevel%"
echo Error level: %MirvaneStatus%
rem A double click runs  cmd /c ""<this file>" " : that command line holds /c
rem and this file's full path; typed at a prompt or called from a script, it
rem does not. Quotes are dropped before comparing, so that none can end a
rem quoted text early.
set "StartedBy=%cmdcmdline%"
if not defined StartedBy goto done
set "StartedBy=%StartedBy:"=%"
set "WithoutSwitch=%StartedBy:/c=%"
call set "WithoutSelf=%%StartedBy:%~f0=%%"
if /i not "%WithoutSwitch%"=="%StartedBy%" if /i not "%WithoutSelf%"=="%StartedBy%" pause
:done
exit /b %MirvaneStatus%
