@echo off
rem merge-tool-cmd = trelmerge-svn-merge.cmd in the svn config, used by "svn update
rem --accept launch" and by the (l) choice of svn's conflict prompt: svn runs
rem   trelmerge-svn-merge.cmd BASE THEIRS MINE MERGED WCPATH
rem and takes status 0 as resolved (MERGED holds the result) and 1 as still in conflict.
setlocal EnableExtensions DisableDelayedExpansion
if "%~5"=="" goto usage
"%~dp0trelmerge.exe" -base "%~1" -fname "%~5 (base)" -fname "%~5 (mine)" -fname "%~5 (theirs)" -out "%~4" "%~3" "%~2"
if %errorlevel% equ 0 exit /b 0
exit /b 1
:usage
echo usage: trelmerge-svn-merge.cmd BASE THEIRS MINE MERGED WCPATH (as svn runs it) 1>&2
exit /b 2
