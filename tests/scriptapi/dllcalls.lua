-- DllManager, GLibTab and calls into real system functions.
-- arg[1]: a folder of its own, arg[2]: the recorder program.
dofile(arg[0]:gsub("[^\\/]*$", "") .. "check.lua")
local folder, recorder = arg[1], arg[2]
local k32 = GLibTab.kernel32
local SetLastError = k32:Get("SetLastError")
local zhongwen = "\228\184\173\230\150\135"

-- The process id, with the caller's last error as second value.
SetLastError(1234)
local pid, err = k32:Get("GetCurrentProcessId", "int")()
check("GetCurrentProcessId last error", err, 1234)
local found = false
for _, id in ipairs({Lua_GetProcessId("qelscripthost.exe")}) do found = found or id == pid end
check("GetCurrentProcessId is one of the hosts", found, true)

local sleepResult, sleepErr = k32:Get("Sleep")(20)
check("void result is nil", sleepResult, nil)
check("void result still gives the last error", type(sleepErr), "number")

-- Result types.
local GetLastError = function(kind) return k32:Get("GetLastError", kind) end
SetLastError(-1)
check("uint", GetLastError("uint")(), 4294967295)
SetLastError(-1)
check("int", GetLastError("int")(), -1)
SetLastError(1)
check("astr below 0x10000 names the program's string table", GetLastError("astr")(), "Navolo Setup")
SetLastError(0)
check("astr null", GetLastError("astr")(), "")
SetLastError(77)
check("astr id not in the table", GetLastError("astr")(), "")
SetLastError(0)
check("wstr null", GetLastError("wstr")(), "")
SetLastError(0)
check("bool false", GetLastError("bool")(), false)
SetLastError(0)
check("unknown type name", GetLastError("void")(), nil)
check("astr at an address (code page 936)", k32:Get("lstrcpyA", "astr")(AString.New(16), AString.New(nil, zhongwen)), zhongwen)
check("wstr at an address", k32:Get("lstrcpyW", "wstr")(WString.New(16), WString.New(nil, zhongwen)), zhongwen)
check("bool true", GLibTab.shlwapi:Get("PathFileExistsW", "bool")(WString.New(nil, "C:\\windows")), true)
check("a Lua string passes its UTF-8 bytes", k32:Get("lstrlenA", "int")(zhongwen), 6)
check("booleans pass 1 and 0", k32:Get("MulDiv", "int")(true, 6, 2) .. "," .. k32:Get("MulDiv", "int")(false, 6, 2), "3,0")

-- Missing exports and libraries.
local none, code = k32:Get("NoSuchExport")
check("missing export", none, nil)
check("missing export code", code, 127)
check("missing library", GLibTab.nosuchlib, nil)
check("missing library is not kept", rawget(GLibTab, "nosuchlib"), nil)
check("missing library looked up again", GLibTab.nosuchlib, nil)
check("a library is kept under its key", rawget(GLibTab, "kernel32"), k32)
check("keys are case-sensitive", GLibTab.Kernel32 ~= k32 and getmetatable(GLibTab.Kernel32) == getmetatable(k32), true)
check("a table key gives nil", GLibTab[{}], nil)
local lib, loadErr = DllManager.Load("nosuch_qel.dll")
check("DllManager.Load of a missing library", lib, nil)
check("DllManager.Load error", loadErr, 126)
local dot, dotErr = k32.Get("Sleep")
check("Get with a dot", dot, nil)
check("Get with a dot message", dotErr, "hModule is nil")

-- UnLoad frees once: a second UnLoad of the same object leaves the other load standing.
local first = DllManager:Load("msi.dll")
local second = DllManager.Load("msi.dll")
check("UnLoad returns nil", first:UnLoad(), nil)
first:UnLoad()
local GetModuleHandleW = k32:Get("GetModuleHandleW", "uint")
check("the second load still holds msi.dll", GetModuleHandleW(WString.New(nil, "msi.dll")) ~= 0, true)
local after, afterErr = first:Get("MsiCloseHandle")
check("Get after UnLoad", after, nil)
check("Get after UnLoad message", afterErr, "hModule is nil")
check("the other object still works", type(second:Get("MsiCloseHandle")), "function")
second:UnLoad()
check("both unloaded", GetModuleHandleW(WString.New(nil, "msi.dll")), 0)

-- cdecl with several arguments, and wrong flags or counts that must leave the stack balanced.
local msvcrt = GLibTab.msvcrt
local sprintf = msvcrt:Get("sprintf", "int", true)
local out = AString.New(64)
check("sprintf result", sprintf(out, "%d-%s-%d-%d-%s", 1, "two", -3, 4, "five"), 15)
check("sprintf text", tostring(out), "1-two--3-4-five")
local wrongSprintf = msvcrt:Get("sprintf", "int", false)
local stdcallAsCdecl = k32:Get("Sleep", nil, true)
local sleepExtra = k32:Get("Sleep")
local marker = "still here"
for i = 1, 300 do
  wrongSprintf(out, "%d", i)
  stdcallAsCdecl(0)
  sleepExtra(0, 1, 2, 3)
end
check("after 900 unbalanced calls", tostring(out) .. " " .. marker, "300 still here")

-- FindWindowW with a WString class, and nil arriving as a null pointer.
local record = folder .. "\\qelt_window.exe"
copy_file(recorder, record)
check("recorder started", Lua_ShellExec(record, "/stay"), true)
local FindWindowW = GLibTab.user32:Get("FindWindowW", "uint")
local window = wait_for(function() local w = FindWindowW(WString.New(nil, "qelt_window"), nil); return w ~= 0 and w end)
check("FindWindowW by class", type(window), "number")
check("FindWindowW by title alone", FindWindowW(nil, WString.New(nil, "qelt_window")), window)
check("FindWindowA with an AString", GLibTab.user32:Get("FindWindowA", "uint")(AString.New(nil, "qelt_window"), nil), window)
Lua_KillAllTaskByName("qelt_window.exe")
done()
