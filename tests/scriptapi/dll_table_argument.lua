-- A table is no argument a called function can take: the call raises an error, which ends the
-- process through the error box.
GLibTab.kernel32:Get("Sleep")({})
Lua_Logout("after the call\r\n")
