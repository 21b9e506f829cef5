@echo off
rem Registers the TelorusX ActiveX control from this folder: the 64-bit DLL
rem (x64\) with the 64-bit regsvr32 and, where there is one, the 32-bit DLL
rem (x86\) with the 32-bit regsvr32. Run it from an administrator prompt
rem (the control is registered for every user of the machine).
rem "register.cmd /u" (what unregister.cmd runs) removes the registration.
setlocal
set "undo="
set "done_text=Registered"
set "doing_text=Registering"
if /i "%~1"=="/u" (
  set "undo=/u"
  set "done_text=Unregistered"
  set "doing_text=Unregistering"
)
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
  "%sys64%\regsvr32.exe" /s %undo% "%here%x64\TelorusXControl.dll"
  if errorlevel 1 goto failed64
  echo %done_text% the 64-bit control, x64\TelorusXControl.dll.
  set "done=1"
)
if exist "%here%x86\TelorusXControl.dll" (
  "%sys32%\regsvr32.exe" /s %undo% "%here%x86\TelorusXControl.dll"
  if errorlevel 1 goto failed32
  echo %done_text% the 32-bit control, x86\TelorusXControl.dll.
  set "done=1"
)
if not defined done (
  echo No TelorusXControl.dll for this Windows was found beside %~nx0.
  exit /b 1
)
exit /b 0
:failed64
echo %doing_text% x64\TelorusXControl.dll failed (regsvr32 exit code %errorlevel%).
exit /b 1
:failed32
echo %doing_text% x86\TelorusXControl.dll failed (regsvr32 exit code %errorlevel%).
exit /b 1
