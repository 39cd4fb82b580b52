io.write(Lua_GetDriverInstallPath(), "\n")
