#pragma once

#include <lua.hpp>

// The Lua_* functions of the script API, declared by family; each family lives in its own file
// beside this one. RegisterScriptApi sets them as globals in the engine's fixed order.

// ServiceApi.cpp: services and component registration.
int Lua_RegSvr32(lua_State* L);
int Lua_RegistDll(lua_State* L);
int Lua_SCM(lua_State* L);

// RegistryApi.cpp: registry values and keys.
int Lua_RegQuery(lua_State* L);
int Lua_RegAdd(lua_State* L);
int Lua_RegDel(lua_State* L);

// ShellApi.cpp: shortcuts and special folders.
int Lua_CreateShortcut(lua_State* L);
int Lua_RegVarByCSIDL(lua_State* L);

// FileApi.cpp: files and directories.
int Lua_CreateDirectory(lua_State* L);
int Lua_CopyFile(lua_State* L);
int Lua_MoveFile(lua_State* L);
int Lua_RenameFile(lua_State* L);
int Lua_DeleteFile(lua_State* L);
int Lua_DeleteFileEx(lua_State* L);
int Lua_DelFileRecursive(lua_State* L);
int Lua_DelFileRecursiveEx(lua_State* L);
int Lua_DeleteFileAfterReboot(lua_State* L);
int Lua_GetTempFileName(lua_State* L);
int Lua_GetTempPath(lua_State* L);
int Lua_ExpandEnv(lua_State* L);
int Lua_PathFileExists(lua_State* L);
int Lua_PathYetAnotherMakeUniqueName(lua_State* L);

// ProcessSystemApi.cpp: processes, the system, messages to the user.
int Lua_Logout(lua_State* L);
int Lua_MsgBox(lua_State* L);

void RegisterScriptApi(lua_State* L);
