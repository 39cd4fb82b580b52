-- Carried as a "LUA" resource by the archive tests: Lua_ExtractResource must write it unchanged.
sample_resource = "\228\184\173\230\150\135 bytes \0 kept"
