@echo off
rem svn update/merge --diff3-cmd trelmerge-svn-diff3.cmd (or diff3-cmd in the svn config):
rem svn runs
rem   trelmerge-svn-diff3.cmd -E -m -L MINE-LABEL -L OLDER-LABEL -L YOURS-LABEL MINE OLDER YOURS
rem and expects the merge on standard output, with status 0 when it is clean and 1 when it
rem holds conflicts (marked). Anything else is an error, and svn leaves the file as it was.
setlocal EnableExtensions DisableDelayedExpansion
set "labels=0"
:options
if "%~4"=="" goto files
if not "%~1"=="-L" goto next
if "%labels%"=="0" set "mine_label=%~2"
if "%labels%"=="1" set "older_label=%~2"
if "%labels%"=="2" set "yours_label=%~2"
set /a labels+=1
shift
:next
shift
goto options
:files
if not "%labels%"=="3" goto usage
if "%~3"=="" goto usage
:pick
set "merged=%TEMP%\trelmerge-svn-%RANDOM%-%RANDOM%.merged"
if exist "%merged%" goto pick
rem Whatever trelmerge prints goes to standard error, so that only the merge reaches svn.
"%~dp0trelmerge.exe" -base "%~2" -fname "%older_label%" -fname "%mine_label%" -fname "%yours_label%" -out "%merged%" "%~1" "%~3" 1>&2
set "status=%errorlevel%"
rem Without a merged file nothing may reach svn: it would take the empty output for the merge.
if not exist "%merged%" exit /b 2
type "%merged%"
del "%merged%"
if "%status%"=="0" exit /b 0
exit /b 1
:usage
echo usage: trelmerge-svn-diff3.cmd [OPTION...] -L LABEL -L LABEL -L LABEL MINE OLDER YOURS (as svn runs it) 1>&2
exit /b 2
