-- Lua_MsgBox by number of arguments; the test program answers the boxes.
Lua_Logout("answer " .. Lua_MsgBox("\228\184\173\230\150\135\233\151\174\233\162\152", "\230\160\135\233\162\152", 0x24) .. "\r\n")
Lua_Logout("answer " .. Lua_MsgBox("only text") .. "\r\n")
Lua_Logout("answer " .. Lua_MsgBox("four", "arguments", 0x24, 1) .. "\r\n")
