-- Starting, finding and ending processes. arg[1]: a folder of its own, arg[2]: the recorder
-- program, arg[3]: a text argument the test program passed (for Lua_GetCommandLineArgv).
dofile(arg[0]:gsub("[^\\/]*$", "") .. "check.lua")
local folder, recorder = arg[1], arg[2]

local function copy(name)
  local path = folder .. "\\" .. name
  copy_file(recorder, path)
  return path
end

local function record_of(path) return read_file(path .. ".txt") end
local function wait_record(path, text)
  return wait_for(function() local r = record_of(path); return r and (text == nil or r:find(text, 1, true)) and r end)
end

local function ids(name) return {Lua_GetProcessId(name)} end
local function wait_count(name, count)
  return wait_for(function() local list = ids(name); return (count == 0 and list[1] == -1 or #list == count) and list end)
end

-- Lua_Exec waiting: the program has run, hidden, in its own folder, before the call returns.
local waited = copy("qelt_wait.exe")
check("Exec and wait", Lua_Exec(waited, nil, "-uu", true), true)
local r = record_of(waited) or ""
check("Exec waited for the program", r:find("-uu", 1, true) ~= nil, true)
check("Exec working folder is the program's", r:match("cwd=([^\n]*)"), folder)
check("Exec and wait runs the program hidden", r:match("show=([^\n]*)"), "0")

-- Without waiting, with a verb and with none.
for _, verb in ipairs({"open", false}) do
  local started = copy("qelt_nowait_" .. tostring(verb) .. ".exe")
  check("Exec without waiting, verb " .. tostring(verb), Lua_Exec(started, verb or nil, "a b"), true)
  local rec = wait_record(started) or ""
  check("Exec parameters, verb " .. tostring(verb), rec:find('" a b', 1, true) ~= nil or rec:find(" a b", 1, true) ~= nil, true)
  check("Exec folder, verb " .. tostring(verb), rec:match("cwd=([^\n]*)"), folder)
  check("Exec shows the program normally, verb " .. tostring(verb), rec:match("show=([^\n]*)"), "1")
end

-- Missing targets and the pin verbs.
local missing = folder .. "\\missing.exe"
check("Exec missing with taskbarunpin", Lua_Exec(missing, "taskbarunpin"), true)
check("Exec missing with Startunpin", Lua_Exec(missing, "Startunpin"), true)
check("Exec missing with open", Lua_Exec(missing, "open"), false)
check("Exec missing with startpin", Lua_Exec(missing, "startpin"), false)
local document = folder .. "\\document.qelnoassoc"
local file = io.open(document, "wb"); file:write("x"); file:close()
check("Exec document without a handler", Lua_Exec(document, "open"), false)
check("Exec startpin succeeds whatever the shell says", Lua_Exec(document, "startpin"), true)
check("Exec Taskbarpin too", Lua_Exec(document, "Taskbarpin"), true)

-- A URL: parameters are not passed on (the scheme's handler is the recorder, see the test).
local handler = folder .. "\\qelt_url.exe"
check("Exec URL", Lua_Exec("qeltest://hello/world", nil, "ignored-parameter"), true)
local urlRecord = wait_record(handler, "qeltest://hello/world") or ""
check("URL reached its handler", urlRecord:find("qeltest://hello/world", 1, true) ~= nil, true)
check("URL parameters dropped", urlRecord:find("ignored-parameter", 1, true), nil)

-- Through the desktop shell.
local viaExplorer = copy("qelt_explorer.exe")
check("ExplorerExec", Lua_ExplorerExec(viaExplorer, ""), true)
check("ExplorerExec started the program", wait_record(viaExplorer) ~= nil, true)
local viaExec = copy("qelt_exec_shell.exe")
check("Exec with the desktop-shell flag", Lua_Exec(viaExec, "open", "", false, true), true)
check("Exec with the desktop-shell flag started the program", wait_record(viaExec) ~= nil, true)

-- Two processes with one name; the path of each; ending them by name, by numeric text, by number.
local twin = copy("qelt_twin.exe")
Lua_ShellExec(twin, "/stay")
Lua_ShellExec(twin, "/stay")
local twins = wait_count("qelt_twin.exe", 2) or {}
check("ShellExec runs the program hidden", (wait_record(twin, "show=") or ""):match("show=([^\n]*)"), "0")
check("GetProcessId with two matches", #twins, 2)
check("GetProcessId with none", table.concat(ids("qelt_nosuch.exe"), ","), "-1")
local image = twins[1] and Lua_GetImagePathByPid(twins[1]) or ""
check("GetImagePathByPid gives a drive path", image:lower(), twin:lower())
check("GetImagePathByPid of no process", Lua_GetImagePathByPid(99999999), nil)
check("KillAllTaskByName", Lua_KillAllTaskByName("QELT_TWIN.EXE"), true)
local left = ids("qelt_twin.exe")
check("KillAllTaskByName ends only the first", #left, 1)
check("TaskKill by numeric text", Lua_TaskKill(tostring(left[1]), nil), true)
check("TaskKill by numeric text ended it", ids("qelt_twin.exe")[1], -1)
local single = copy("qelt_single.exe")
Lua_ShellExec(single, "/stay")
local singleIds = wait_count("qelt_single.exe", 1) or {}
check("TaskKill by number", Lua_TaskKill(singleIds[1] or 0, nil), true)
check("TaskKill by number ended it", ids("qelt_single.exe")[1], -1)
check("TaskKill of a name no process has", Lua_TaskKill("qelt_nosuch.exe", nil), true)
check("KillAllTaskByName of a name no process has", Lua_KillAllTaskByName("qelt_nosuch.exe"), true)

-- The window step: a message of the script's choice, or SC_CLOSE by default.
local messaged = copy("qelt_message.exe")
Lua_ShellExec(messaged, "/stay")
wait_for(function() return GLibTab.user32:Get("FindWindowW", "uint")(WString.New(nil, "qelt_message"), nil) ~= 0 end)
check("TaskKill with a class and a message", Lua_TaskKill("qelt_message.exe", "qelt_message", 0x8001, 7, 9), true)
check("the window got the message first", (record_of(messaged) or ""):match("message=([^\n]*)"), "32769 7 9")
local closed = copy("qelt_close.exe")
Lua_ShellExec(closed, "/stay")
wait_for(function() return GLibTab.user32:Get("FindWindowW", "uint")(WString.New(nil, "qelt_close"), nil) ~= 0 end)
check("TaskKill with a class and no message", Lua_TaskKill("qelt_close.exe", "qelt_close", nil), true)
check("the window got SC_CLOSE first", (record_of(closed) or ""):match("message=([^\n]*)"), "274 61536 0")

-- The system.
check("IsWow64 in a win64 prefix", Lua_IsWow64(), true)
check("GetOSVersion", Lua_GetOSVersion(), GLibTab.kernel32:Get("GetVersion", "uint")() % 256)
local own = Lua_GetModuleFileName()
check("GetModuleFileName of the program", own:lower():match("[^\\]*$"), "qelscripthost.exe")
check("GetModuleFileName of kernel32", Lua_GetModuleFileName("kernel32"):lower():match("[^\\]*$"), "kernel32.dll")
check("GetModuleFileName of a module not loaded", Lua_GetModuleFileName("qel_not_loaded.dll"), own)
local argv = Lua_GetCommandLineArgv()
check("argv[1] is the program", argv[1]:lower():match("[^\\]*$"), "qelscripthost.exe")
check("argv[2] is the script", argv[2], arg[0])
check("argv[5] keeps a Chinese argument with a space", argv[5], arg[3])
check("argv has no more", #argv, 5)
check("EnablePrivilege", Lua_EnablePrivilege("SeShutdownPrivilege", true), true)
check("EnablePrivilege of an unknown name", Lua_EnablePrivilege("QelNoSuchPrivilege", true), false)
check("EnablePrivilege with one argument", Lua_EnablePrivilege("SeShutdownPrivilege"), false)
done()
