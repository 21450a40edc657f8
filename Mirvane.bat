@echo off
rem Runs a tool from this folder with the arguments given, says which one, and
rem shows its answer and the error level: Mirvane64.exe where it is there and
rem Windows is 64-bit (it reads 64-bit and 32-bit emulators alike), else
rem Mirvane.exe. Started by a double click, the window would close at once:
rem then wait for a key so that the answer can be read.
setlocal
set "MirvaneExe=Mirvane.exe"
rem A 32-bit prompt on 64-bit Windows sees its own width in
rem PROCESSOR_ARCHITECTURE and that of Windows in PROCESSOR_ARCHITEW6432.
set "WindowsArchitecture=%PROCESSOR_ARCHITECTURE%"
if defined PROCESSOR_ARCHITEW6432 set "WindowsArchitecture=%PROCESSOR_ARCHITEW6432%"
if not exist "%~dp0Mirvane64.exe" goto chosen
if /i "%WindowsArchitecture%"=="AMD64" set "MirvaneExe=Mirvane64.exe"
if /i "%WindowsArchitecture%"=="ARM64" set "MirvaneExe=Mirvane64.exe"
:chosen
echo Running %MirvaneExe%
"%~dp0%MirvaneExe%" %*
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
