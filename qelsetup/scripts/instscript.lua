-- Navolo's install procedure. The chunk only prepares: constants, fsredir, helpers, the five
-- events. The installer calls the events in order (BeforeInit, BeforeInstall, OnInstall,
-- BeforeComplete, AfterComplete); everything is done through the Lua_* functions, the object
-- types and the payload's libraries func_helper.dll and kvstat.dll.

local script_version = "1.0.2.57"
local setup_title = string.format("%s - 安装", global_product_name)
local oem_union_id = 4001
local work_dir = Lua_ExpandEnv("%TMP%")
local installed_union_id = 0
local cover_union_id = 4999
local service_exe = "NvSS.exe"
local display_name = "Navolo"
local main_exe = "Navolo.exe"
local main_wnd_class = "CDlgSearch"

global_ss_install = false
global_ss_run = false

fsredir = {
  IsNeed = Lua_GetOSVersion() > 5 and Lua_IsWow64() == true,
  Wow64DisableWow64FsRedirection = GLibTab.kernel32:Get("Wow64DisableWow64FsRedirection", "int"),
  Wow64RevertWow64FsRedirection = GLibTab.kernel32:Get("Wow64RevertWow64FsRedirection", "int"),
}
if fsredir.IsNeed then
  fsredir.pOld = RawBuffer.New(4)
  function fsredir:Disable() self.Wow64DisableWow64FsRedirection(self.pOld) end
  function fsredir:Revert() self.Wow64RevertWow64FsRedirection(self.pOld:OffsetGetAsUInt32(0)) end
else
  function fsredir:Disable() end
  function fsredir:Revert() end
end

-- helpers ------------------------------------------------------------------------------------

function Split(text, sep)
  Lua_Logout("FullString:" .. text)
  local list, count, start = {}, 0, 1
  while true do
    local first, last = string.find(text, sep, start, true)
    count = count + 1
    if not first then
      list[count] = string.sub(text, start)
      break
    end
    list[count] = string.sub(text, start, first - 1)
    start = last + 1
  end
  return list, count
end

local function file_stem(path)
  local name = string.match(path, ".+\\([^\\]*%.%w+)$")
  if not name then
    return path
  end
  local dot = string.match(name, ".+()%.%w+$")
  return dot and string.sub(name, 1, dot - 1) or name
end

local function file_name_of(path)
  return string.match(path, ".*\\([^\\]+.*)$") or path
end

function paht_remove_filename(path)
  return string.match(path, "^(%a:\\.+)\\[^\\]*$") or string.sub(path, 1, 3)
end

function FindWnd(class, title)
  local find = GLibTab.User32:Get("FindWindowW", "int")
  local wclass = class ~= nil and WString.New(nil, class) or nil
  local wtitle = title ~= nil and WString.New(nil, title) or nil
  return (find(wclass, wtitle))
end

function GetCurrentUnionID()
  local value = Lua_RegQuery("HKCU", global_reg_sub_key, "UnionId")
  Lua_Logout("union_id=" .. tostring(value))
  if value == nil then
    value = Lua_RegQuery("HKLM", global_reg_sub_key, "UnionId")
    Lua_Logout("union_id=" .. tostring(value))
  end
  if value == nil then
    return 0
  end
  return tonumber(value)
end

function CheckUnionID()
  return GetCurrentUnionID() == global_union_id
end

function GetUnionByPkgName()
  return string.match(file_name_of(Lua_GetModuleFileName()), "^.*_.*%-(%d+).*%..*$")
end

function AnalyzeParam()
  local list, count = Split(file_stem(Lua_GetModuleFileName()), "_")
  if count ~= 3 or string.lower(list[1]) ~= string.lower(global_product_name_inner) then
    return
  end
  replace_union_id = tonumber(list[2])
  if replace_union_id == nil or replace_union_id < 100 or replace_union_id >= 10000 then
    return
  end
  global_union_id = replace_union_id
  Lua_Logout("union_id:-----------2" .. replace_union_id)
end

function InitCommandLineArgv_new()
  for _, argument in ipairs(Lua_GetCommandLineArgv() or {}) do
    if argument == "/s" or argument == "-s" then
      if global_enable_ss_install then
        global_ss_install = true
        global_show_completewindow = false
      end
    end
    local head5, head6 = string.sub(argument, 1, 5), string.sub(argument, 1, 6)
    if head5 == "-uid=" or head5 == "-uid:" or head5 == "/uid:" then
      global_union_id = tonumber(string.sub(argument, 6))
    end
    if head6 == "-path=" or head6 == "-path:" or head6 == "/path:" then
      global_install_path = string.sub(argument, 7)
    end
  end
end

function analy_filename_with_ss_param()
  local stem = string.lower(file_stem(Lua_GetModuleFileName()))
  Lua_Logout("analy_filename_with_ss_param:stAppName " .. stem)
  if string.find(stem, "@st", 1, true) then
    global_ss_install = true
    global_ss_run = true
  end
  if string.find(stem, "@stt", 1, true) then
    global_ss_install = true
    global_ss_run = false
  end
end

local shortcut_markers = {
  {"@dto", "@dtc", "DesktopShortcutChk"},
  {"@smo", "@smc", "StartMenuShortcutChk"},
  {"@qlo", "@qlc", "QuickLaunchChk"},
  {"@swo", "@swc", "ShouldStartWithWindowsChk"},
  {"@sso", "@ssc", "InstallSearchServer"},
}

function analy_filename_with_shortcut_param()
  local stem = string.lower(file_stem(Lua_GetModuleFileName()))
  for _, marker in ipairs(shortcut_markers) do
    if string.find(stem, marker[1], 1, true) then
      _G[marker[3]] = true
    end
    if string.find(stem, marker[2], 1, true) then
      _G[marker[3]] = false
    end
  end
end

function CheckClient()
  if global_ss_install then
    return
  end
  if FindWnd(global_main_wnd_cls, nil) ~= 0 then
    local text = string.format("检测到 %s 正在运行\r\n选择[确定]强制关闭，[取消]取消安装", global_product_name)
    if Lua_MsgBox(text, setup_title, 65585) ~= 1 then
      os.exit(0)
    end
  end
end

function checkNvShellExt(path)
  if not Lua_PathFileExists(path) then
    return
  end
  Lua_Logout(path .. "  check!!!")
  Lua_RegistDll(path, "/u /s", false)
  if Lua_DeleteFileEx(path) then
    return
  end
  Lua_Logout(path .. "  Delete Failed!!!")
  local tmp = Lua_PathYetAnotherMakeUniqueName(Lua_GetTempPath() .. "\\sh000001.tmp")
  Lua_Logout(tmp .. "  generate tmpfile")
  if Lua_MoveFile(path, tmp) then
    Lua_DeleteFileAfterReboot(tmp)
  else
    Lua_Logout(path .. "  move to tmp Failed!!!")
  end
end

local function install_search_service()
  Lua_Exec(global_install_path .. "\\" .. service_exe, nil, "--install", true)
end

local function remove_search_service()
  if Lua_ShellExec("cmd.exe", "/C sc stop nvss") then
    Lua_Logout("/C sc stop nvss")
  end
  if Lua_ShellExec("cmd.exe", "/C sc delete nvss") then
    Lua_Logout("/C sc delete nvss")
  end
  local pid = Lua_GetProcessId("nvss.exe")
  Lua_Logout(string.format("pid:%d", pid))
  while pid ~= -1 do
    Lua_TaskKill(pid, nil)
    pid = Lua_GetProcessId("nvss.exe")
    Lua_Logout(string.format("pid:%d", pid))
  end
end

function InstallReport(version, union_id, app_id)
  Lua_Logout("start install report info")
  local path = global_install_path .. "\\kvstat.dll"
  local lib = GLibTab[path]
  assert(lib ~= nil, "LoadLibrary " .. path .. " failed")
  local function bind(name, result_type)
    local f, err = lib:Get(name, result_type)
    assert(f ~= nil, "GetProcAddress \"" .. name .. "\" failed, errcode : " .. tostring(err))
    return f
  end
  bind("stat_unionid")(union_id)
  bind("stat_appid")(app_id)
  bind("stat_level")(2)
  bind("stat_version_ex")(version[1], version[2], version[3], version[4])
  bind("stat_install_addr")(global_udp_install_uninstall_url, tonumber(global_udp_un_install_port))
  if not bind("stat_init", "bool")() then
    Lua_Logout("stat_init failed!")
    return false
  end
  Lua_Logout(global_udp_install_uninstall_url)
  local kind = 1
  if installed_union_id ~= 0 then
    kind = 3
    Lua_Logout("cover install!!!")
  end
  bind("stat_install", "int")(kind)
  local r = bind("stat_http_post", "int")(global_install_PostURL, nil, 0, true)
  Lua_Logout(global_install_PostURL)
  bind("stat_close")()
  lib:UnLoad()
  GLibTab[path] = nil
  return r == 1
end

function UpInfomession()
  report_union_id = global_union_id
  if installed_union_id ~= 0 and installed_union_id ~= cover_union_id then
    report_union_id = installed_union_id
  end
  InstallReport(global_tb_version, report_union_id, global_app_id)
end

function SsRunApp()
  if global_enable_ss_install and global_ss_install and global_ss_run then
    Lua_ExplorerExec(string.format("%s\\%s", global_install_path, global_main_app_name), "")
  end
end

function notify_association_changed()
  local notify = GLibTab.shell32:Get("SHChangeNotify", "void")
  notify(134217728, 3, 0, 0)
end

-- defined for the product's later use; no event calls them

function Sleep(ms)
  GLibTab.Kernel32:Get("Sleep")(ms)
end

function GetCurrentProcessId()
  return (GLibTab.Kernel32:Get("GetCurrentProcessId", "int")())
end

function CheckPathExist(path)
  local exists = GLibTab.Shlwapi:Get("PathFileExistsA", "int")
  if exists == nil then
    return 0
  end
  return (exists(AString.New(nil, path)))
end

function path_unquote_spaces(text)
  return (string.gsub(string.gsub(text, '^"+', ""), '"+$', ""))
end

function InitCommandLineArgv()
  for _, argument in ipairs(Lua_GetCommandLineArgv() or {}) do
    local rest = string.match(argument, "^[-/][pP][aA][tT][hH]:(.*)$")
    if rest and (global_install_path == nil or global_install_path == "") then
      global_install_path = path_unquote_spaces(rest)
    end
  end
end

function UninstallSys()
  local program = ""
  if Lua_GetProcessId(service_exe) ~= -1 then
    Lua_Exec(global_install_path .. "\\" .. program, nil, "-uu", true)
  end
end

function RemoveOldFiles()
  for _, name in ipairs({"substat.dll", "DuiLib.dll", "QELUpg.exe", "CheckUpdate.dll", "Res"}) do
    Lua_DeleteFile(global_install_path .. "\\" .. name)
  end
end

function SetAssociate()
  local ret = Lua_Exec(main_app_fullpath, nil, "-AssociateAll", true)
  Lua_Logout("UnSetAssociate ret:" .. tostring(ret))
end

function HandleSetAsDefaultDesktop()
end

-- events ---------------------------------------------------------------------------------------

local function first_value(...)
  for i = 1, select("#", ...) do
    local value = select(i, ...)
    if value then
      return value
    end
  end
  return nil
end

function QELSE_BeforeInit()
  Lua_Logout("script_version:" .. script_version)
  if Lua_GetOSVersion() < 6 then
    Lua_MsgBox(global_product_name .. " 目前只支持WIN7和更新的Windows操作系统！")
    os.exit(0)
  end

  installed_union_id = GetCurrentUnionID()
  if installed_union_id == cover_union_id then
    global_cover_unionId = true
  end
  local from_name = GetUnionByPkgName()
  if from_name then
    oem_union_id = from_name
  end

  global_install_path = Lua_RegQuery("HKLM", global_uninst_sub_key, "InstallLocation")
  if not global_install_path then
    global_install_path = Lua_RegQuery("HKLM", global_reg_sub_key, "AppPath")
  end
  if not global_install_path then
    global_install_path = Lua_RegQuery("HKCU", global_reg_sub_key, "AppPath")
  end
  if global_disable_cover == true and CheckUnionID() and global_install_path ~= nil then
    os.exit(0)
  end
  if global_disable_analyze_params_from_file_name == false then
    AnalyzeParam()
  end
  InitCommandLineArgv_new()
  if not global_install_path then
    if fsredir.IsNeed then
      global_install_path = Lua_ExpandEnv("%ProgramFiles(x86)%\\") .. global_install_basepath
    else
      global_install_path = Lua_ExpandEnv("%ProgramFiles%\\") .. global_install_basepath
    end
  end

  if not global_need_disk_space then
    global_need_disk_space = 20048128
  end
  if global_startup_check_visable == nil then
    global_startup_check_visable = true
  end
  if not global_startup_check then
    global_startup_check = true
  end
  if global_enable_ss_install == true then
    if _G.global_default_ss_install then
      global_ss_install = true
      global_ss_run = true
    else
      analy_filename_with_ss_param()
    end
  end
  if not global_custom_reg_list then
    global_custom_reg_list = {}
  end
  if global_show_completewindow == nil then
    global_show_completewindow = true
  end
  for _, name in ipairs({"DesktopShortcutChk", "StartMenuShortcutChk", "QuickLaunchChk", "ShouldStartWithWindowsChk", "InstallSearchServer"}) do
    if not _G[name] then
      _G[name] = true
    end
  end
  if global_ss_install == true then
    analy_filename_with_shortcut_param()
  end
end

function QELSE_BeforeInstall()
  CheckClient()
  global_tb_version = {}
  for number in string.gmatch(global_version, "(%d+)|*") do
    global_tb_version[#global_tb_version + 1] = tonumber(number)
  end
  local v = global_tb_version
  global_dwversion = ((v[1] * 100 + v[2]) * 100 + v[3]) * 10000 + v[4]
  Lua_Logout(tostring(InstallPath))
  global_install_path = InstallPath
  Lua_CreateDirectory(global_install_path)
end

local function registry_list()
  local hklm_product = global_reg_sub_key
  local uninst = global_uninst_sub_key
  local function entry(hkey, subkey, value, datatype, data, overwrite)
    return {hkey = hkey, subkey = subkey, value = value, datatype = datatype, data = data, overwrite = overwrite}
  end
  return {
    entry("HKLM", hklm_product, "AppPath", "REG_SZ", global_install_path, true),
    entry("HKLM", hklm_product, "UnionId", "REG_DWORD", global_union_id, global_cover_unionId),
    entry("HKLM", hklm_product, "OEMUnionId", "REG_DWORD", oem_union_id, global_cover_unionId),
    entry("HKLM", hklm_product, "OemID", "REG_DWORD", 1, true),
    entry("HKLM", hklm_product, "UserID", "REG_BINARY", 0, true),
    entry("HKCU", hklm_product, "AppPath", "REG_SZ", global_install_path, true),
    entry("HKCU", hklm_product, "UnionId", "REG_DWORD", global_union_id, global_cover_unionId),
    entry("HKCU", hklm_product, "OEMUnionId", "REG_DWORD", oem_union_id, global_cover_unionId),
    entry("HKCU", hklm_product, "OemID", "REG_DWORD", 1, true),
    entry("HKCU", hklm_product, "UserID", "REG_BINARY", 0, true),
    entry("HKCU", hklm_product, "DisplayVersion", "REG_SZ", global_version, true),
    entry("HKCU", hklm_product, "SearchHtmlUpdate", "REG_DWORD", 1, true),
    entry("HKCU", hklm_product, "InstallForService", "REG_DWORD", 1, true),
    entry("HKCU", hklm_product, "NAVOLO_APP_ID", "REG_DWORD", 10004, true),
    entry("HKLM", uninst, "DisplayIcon", "REG_SZ", main_app_fullpath, true),
    entry("HKLM", uninst, "DisplayName", "REG_SZ", global_product_name, true),
    entry("HKLM", uninst, "DisplayVersion", "REG_SZ", global_version, true),
    entry("HKLM", uninst, "EstimatedSize", "REG_DWORD", global_need_disk_space / 1024, true),
    entry("HKLM", uninst, "NoModify", "REG_DWORD", 1, true),
    entry("HKLM", uninst, "NoRepair", "REG_DWORD", 1, true),
    entry("HKLM", uninst, "Publisher", "REG_SZ", global_company_name, true),
    entry("HKLM", uninst, "UninstallString", "REG_SZ", global_install_path .. "\\Uninstall.exe", true),
    entry("HKLM", uninst, "InstallLocation", "REG_SZ", global_install_path, true),
    entry("HKLM", uninst, "InstallDate", "REG_SZ", os.date("%Y%m%d"), true),
  }
end

local function onExtractError(path, code)
  Lua_Logout(path .. string.format("  创建文件出错:%d", code))
  local tmp = Lua_PathYetAnotherMakeUniqueName(Lua_GetTempFileName(work_dir, "JsZip"))
  Lua_Logout(tmp)
  if Lua_MoveFile(path, tmp) then
    Lua_DeleteFileAfterReboot(tmp)
    return 0
  end
  if string.find(path, "NvToolMenuShellExt", 1, true) then
    Lua_Logout("ingore NvToolMenuShellExt")
    return 1
  end
  return 2
end

local function quick_launch(name)
  return string.format("%s\\Microsoft\\Internet Explorer\\Quick Launch\\%s.lnk", "%APPDATA%", name)
end

function QELSE_OnInstall()
  remove_search_service()
  for _, name in ipairs({"KVUpg.exe", global_main_app_name_inner_64, global_main_app_name_inner, "Navolo.exe", "NvUserCenter.exe"}) do
    Lua_KillAllTaskByName(name)
  end
  if Lua_IsWow64() then
    checkNvShellExt(global_install_path .. "\\NvToolMenuShellExt64.dll")
  else
    checkNvShellExt(global_install_path .. "\\NvToolMenuShellExt.dll")
  end

  if string.lower(string.sub(work_dir, 1, 1)) ~= string.lower(string.sub(global_install_path, 1, 1)) then
    work_dir = paht_remove_filename(global_install_path) .. "\\del_reboot"
    Lua_CreateDirectory(work_dir)
  end

  if not Lua_UnCompress7z("App.7z", global_install_path, false, nil, onExtractError) then
    Lua_MsgBox("释放文件时出现错误，安装程序将终止！", setup_title)
    os.exit(0)
  end
  Lua_ExtractResource("LUA", "GLOBAL_VAR.LUAC", global_install_path .. "\\Uninst.dar0")
  Lua_ExtractResource("LUA", "UNINSTSCRIPT.LUAC", global_install_path .. "\\Uninst.dar1")

  main_app_fullpath = string.format("%s\\%s", global_install_path, global_main_app_name)
  local helper_path = global_install_path .. "\\func_helper.dll"
  local helper = GLibTab[helper_path]

  reg_add_list = registry_list()
  for _, e in ipairs(reg_add_list) do
    Lua_RegAdd(e.hkey, e.subkey, e.value, e.datatype, e.data, e.overwrite)
  end
  for _, e in ipairs(global_custom_reg_list) do
    Lua_RegAdd(e.hkey, e.subkey, e.value, e.datatype, e.data, e.overwrite)
  end

  fsredir:Disable()
  Lua_RegVarByCSIDL("COMMPROGRAMS", 23)
  Lua_RegVarByCSIDL("DESKTOP", 16)
  helper:Get("AllowAccountPrivilege", "bool")(WString.New(nil, global_install_path))
  Lua_DeleteFile(string.format("%s\\%s.lnk", "%DESKTOP%", global_old_product_name))
  if Lua_IsWow64() then
    Lua_RegistDll(global_install_path .. "\\NvToolMenuShellExt64.dll", "/i /s", false)
  else
    Lua_RegistDll(global_install_path .. "\\NvToolMenuShellExt.dll", "/i /s", false)
  end
  if DesktopShortcutChk then
    helper:Get("CreateDesktopShortcut", "void")(WString.New(nil, main_app_fullpath), WString.New(nil, global_main_wnd_cls),
      WString.New(nil, global_product_name))
  end
  helper:Get("UnpinFromTaskbar", "void")(WString.New(nil, quick_launch(global_old_product_name)))

  local is_win11 = helper:Get("IsOSWin11", "bool")()
  if QuickLaunchChk then
    if is_win11 == true then
      Lua_Logout("NvInstall win11")
      helper:Get("UnpinFromTaskbar", "void")(WString.New(nil, quick_launch(display_name)))
      local pinned = string.format("%s\\Microsoft\\Internet Explorer\\Quick Launch\\User Pinned\\TaskBar\\%s.lnk", "%APPDATA%", display_name)
      Lua_DeleteFile(pinned)
      Lua_DeleteFile(string.format("%s\\Microsoft\\Internet Explorer\\Quick Launch\\User Pinned\\TaskBar\\%s (2).lnk", "%APPDATA%", display_name))
      Lua_Exec(pinned, "taskbarunpin")
      helper:Get("CreateTaskbarShortcut", "void")(WString.New(nil, global_install_path .. "\\" .. main_exe),
        WString.New(nil, main_wnd_class), WString.New(nil, display_name))
    end
    Lua_RegAdd("HKCU", "SOFTWARE\\Navolo", "QuickLaunchChk", "REG_DWORD", 1, true)
  else
    Lua_RegAdd("HKCU", "SOFTWARE\\Navolo", "QuickLaunchChk", "REG_DWORD", 0, true)
  end

  if StartMenuShortcutChk then
    Lua_CreateShortcut(main_app_fullpath, string.format("%s\\%s\\%s.lnk", "%COMMPROGRAMS%", global_product_name, global_product_name), "/menu", nil)
    Lua_CreateShortcut(global_install_path .. "\\Uninstall.exe",
      string.format("%s\\%s\\卸载%s.lnk", "%COMMPROGRAMS%", global_product_name, global_product_name), "", nil)
    Lua_RegAdd("HKCU", "SOFTWARE\\Navolo", "StartMenuShortcutChk", "REG_DWORD", 1, true)
  else
    Lua_RegAdd("HKCU", "SOFTWARE\\Navolo", "StartMenuShortcutChk", "REG_DWORD", 0, true)
  end

  if ShouldStartWithWindowsChk then
    Lua_RegAdd("HKCU", "Software\\Microsoft\\Windows\\CurrentVersion\\Run", "Navolo", "REG_SZ",
      global_install_path .. "\\Navolo.exe /startup system", true)
  else
    Lua_RegDel("HKCU", "Software\\Microsoft\\Windows\\CurrentVersion\\Run", "Navolo")
  end
  local replace = (ShouldStartWithWindowsChk and is_win11 == false) and 1 or 0
  Lua_RegAdd("HKCU", "SOFTWARE\\Navolo", "ReplaceSysSearch", "REG_DWORD", replace, true)

  if InstallSearchServer == true then
    install_search_service()
  end
  helper:UnLoad()
  GLibTab[helper_path] = nil
  fsredir:Revert()

  if global_create_log_folder == true then
    Lua_CreateDirectory(global_install_path .. "\\log")
    Lua_CreateDirectory(global_install_path .. "\\ZipUpdater\\log")
  end
  if work_dir ~= Lua_ExpandEnv("%TMP%") then
    Lua_DelFileRecursive(work_dir)
    Lua_DeleteFileAfterReboot(work_dir)
  end
end

function QELSE_BeforeComplete()
  SsRunApp()
  UpInfomession()
  notify_association_changed()
end

function QELSE_AfterComplete()
end
