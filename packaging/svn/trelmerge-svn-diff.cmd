@echo off
rem svn diff --diff-cmd trelmerge-svn-diff.cmd (or diff-cmd in the svn config): svn runs
rem   trelmerge-svn-diff.cmd [DIFF-OPTIONS] -L LEFT-LABEL -L RIGHT-LABEL LEFT RIGHT
rem The options are dropped, the labels become display names, and the status becomes what
rem svn expects of a diff program: 0 when the page was written, 2 (an error) otherwise.
setlocal EnableExtensions DisableDelayedExpansion
set "labels=0"
:options
if "%~3"=="" goto files
if not "%~1"=="-L" goto next
if "%labels%"=="0" set "left_label=%~2"
if "%labels%"=="1" set "right_label=%~2"
set /a labels+=1
shift
:next
shift
goto options
:files
if not "%labels%"=="2" goto usage
if "%~2"=="" goto usage
"%~dp0trelmerge.exe" -fname "%left_label%" -fname "%right_label%" "%~1" "%~2"
if %errorlevel% equ 0 exit /b 0
exit /b 2
:usage
echo usage: trelmerge-svn-diff.cmd [OPTION...] -L LABEL -L LABEL LEFT RIGHT (as svn runs it) 1>&2
exit /b 2
