@echo off
rem Runs on Windows, natively, the tests of one architecture that need nothing of Linux:
rem   1. registers the test platform's stand-ins for the current user only (HKCU\Software\Classes; no
rem      administrator, nothing machine-wide) with register_user.exe,
rem   2. runs each GoogleTest program of the bundle (made by scripts/windows-bundle) in a scratch directory of
rem      its own, BUNDLE_DIR\work\NAME, as CTest does under Wine,
rem   3. runs the Java check (TessaroOnWindows) on the java.exe on PATH, skipped when there is none,
rem   4. unregisters the stand-ins.
rem   windows-tests.cmd BUNDLE_DIR [PROGRAM...]      PROGRAM: run only these test programs
rem The last line says "N passed, N failed"; exit status 0 when everything that ran passed.
setlocal EnableExtensions EnableDelayedExpansion
if "%~1"=="" (
  echo usage: windows-tests.cmd BUNDLE_DIR [PROGRAM...]
  exit /b 2
)
set "BUNDLE=%~f1"
set "BIN=%BUNDLE%\bin"
set "WORK=%BUNDLE%\work"
set PASSED=0
set FAILED=0
set STANDINS="%BIN%\capture_platform.dll" "%BIN%\url_reader.dll" "%BIN%\file_writer.dll"

"%BIN%\register_user.exe" %STANDINS%
if errorlevel 1 (
  echo windows-tests: registering the stand-ins for the current user failed
  exit /b 1
)

set ONLY=
:arguments
shift
if not "%~1"=="" (
  set "ONLY=!ONLY! %~1"
  goto arguments
)
if not defined ONLY for /f "usebackq delims=" %%t in ("%BUNDLE%\tests.txt") do set "ONLY=!ONLY! %%t"
for %%t in (%ONLY%) do call :program %%t

java -version >nul 2>&1
if errorlevel 1 (
  echo windows-tests: no java on PATH: the Java check is skipped
) else (
  java -cp "%BIN%\tessaro.jar;%BIN%\tessaro-windows-test.jar" TessaroOnWindows
  if errorlevel 1 (set /a FAILED+=1 & echo FAILED java) else (set /a PASSED+=1 & echo PASSED java)
)

"%BIN%\register_user.exe" /u %STANDINS%
echo %PASSED% passed, %FAILED% failed
if %FAILED% gtr 0 exit /b 1
exit /b 0

:program
if exist "%WORK%\%1" rd /s /q "%WORK%\%1"
mkdir "%WORK%\%1"
pushd "%WORK%\%1"
set "TESSARO_TEST_WORK=%WORK%\%1"
"%BIN%\%1.exe" --gtest_brief=1
if errorlevel 1 (set /a FAILED+=1 & echo FAILED %1) else (set /a PASSED+=1 & echo PASSED %1)
popd
exit /b 0
