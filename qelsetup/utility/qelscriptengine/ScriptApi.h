#pragma once

#include <lua.hpp>

// The Lua_* functions of the script API, declared by family; each family lives in its own file
// beside this one. RegisterScriptApi sets them as globals in the engine's fixed order.

// ProcessSystemApi.cpp: processes, the system, messages to the user.
int Lua_Exec(lua_State* L);
int Lua_ExplorerExec(lua_State* L);
int Lua_TaskKill(lua_State* L);
int Lua_GetOSVersion(lua_State* L);
int Lua_Logout(lua_State* L);
int Lua_MsgBox(lua_State* L);
int Lua_IsWow64(lua_State* L);
int Lua_GetProcessId(lua_State* L);
int Lua_ExitWindows(lua_State* L);
int Lua_GetModuleFileName(lua_State* L);
int Lua_GetCommandLineArgv(lua_State* L);
int Lua_EnablePrivilege(lua_State* L);
int Lua_GetImagePathByPid(lua_State* L);
int Lua_KillAllTaskByName(lua_State* L);
int Lua_ShellExec(lua_State* L);

// ArchiveApi.cpp: unpacking 7z archives, from the payload resource or from a file.
int Lua_UnCompress7z(lua_State* L);

// ResourceDriveApi.cpp: writing a resource of the installer to a file, choosing the install drive.
int Lua_ExtractResource(lua_State* L);
int Lua_GetDriverInstallPath(lua_State* L);

void RegisterScriptApi(lua_State* L);
