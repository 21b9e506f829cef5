@echo off
rem Unregisters the TelorusX ActiveX control of this folder: the 64-bit DLL
rem (x64\) with the 64-bit regsvr32 /u and, where there is one, the 32-bit DLL
rem (x86\) with the 32-bit one. Run it from an administrator prompt
rem (the registration is for every user of the machine).
setlocal
set "here=%~dp0"
set "sys64=%SystemRoot%\System32"
if exist "%SystemRoot%\Sysnative\regsvr32.exe" set "sys64=%SystemRoot%\Sysnative"
set "sys32=%SystemRoot%\System32"
if exist "%SystemRoot%\SysWOW64\regsvr32.exe" set "sys32=%SystemRoot%\SysWOW64"
set "win64="
if /i "%PROCESSOR_ARCHITECTURE%"=="AMD64" set "win64=1"
if /i "%PROCESSOR_ARCHITEW6432%"=="AMD64" set "win64=1"
set "done="
if defined win64 if exist "%here%x64\TelorusXControl.dll" (
  "%sys64%\regsvr32.exe" /s /u "%here%x64\TelorusXControl.dll"
  if errorlevel 1 goto failed64
  echo Unregistered the 64-bit control, x64\TelorusXControl.dll.
  set "done=1"
)
if exist "%here%x86\TelorusXControl.dll" (
  "%sys32%\regsvr32.exe" /s /u "%here%x86\TelorusXControl.dll"
  if errorlevel 1 goto failed32
  echo Unregistered the 32-bit control, x86\TelorusXControl.dll.
  set "done=1"
)
if not defined done (
  echo No TelorusXControl.dll for this Windows was found beside unregister.cmd.
  exit /b 1
)
exit /b 0
:failed64
echo Unregistering x64\TelorusXControl.dll failed (regsvr32 exit code %errorlevel%).
exit /b 1
:failed32
echo Unregistering x86\TelorusXControl.dll failed (regsvr32 exit code %errorlevel%).
exit /b 1
