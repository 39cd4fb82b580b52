-- Lua_ExitWindows logs the session off. Run only in a throwaway prefix with a server of its
-- own: there the log-off ends the prefix's windowed programs and nothing else.
-- arg[1]: a folder of its own, arg[2]: the recorder program (which would end by itself only
-- after 60 s, so the 30 s wait below tells the log-off apart).
dofile(arg[0]:gsub("[^\\/]*$", "") .. "check.lua")
local program = arg[1] .. "\\qelt_session.exe"
copy_file(arg[2], program)
Lua_ShellExec(program, "/stay")
local FindWindowW = GLibTab.user32:Get("FindWindowW", "uint")
check("the windowed program runs", wait_for(function() return FindWindowW(WString.New(nil, "qelt_session"), nil) ~= 0 end), true)
check("ExitWindows with EWX_LOGOFF", Lua_ExitWindows(0, 0), true)
check("the log-off ended the windowed program",
      wait_for(function() return Lua_GetProcessId("qelt_session.exe") == -1 end, 30000), true)
done()
