@echo off
rem Unregisters the TelorusX ActiveX control of this folder (both DLLs where
rem both are here). Run it from an administrator prompt.
call "%~dp0register.cmd" /u
exit /b %errorlevel%
