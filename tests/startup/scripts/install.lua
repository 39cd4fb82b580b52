-- Install script of the start-up test installers. Each event reports itself; the environment
-- chooses the silent flag, an event that raises error(nil), and events that are not functions.
global_ss_install = os.getenv("QELTEST_SS") == "1"
global_install_path = "C:\\QelTest\\安装"

local fail_in = os.getenv("QELTEST_FAIL_IN")

local function define(name)
  _G["QELSE_" .. name] = function()
    Lua_Logout("event " .. name .. " ss=" .. tostring(global_ss_install) .. " InstallPath=" .. tostring(InstallPath) .. "\r\n")
    if fail_in == name then
      error(nil)
    end
  end
end

for _, name in ipairs({"BeforeInit", "BeforeInstall", "OnInstall", "BeforeComplete", "AfterComplete"}) do
  define(name)
end

if os.getenv("QELTEST_ODD_EVENTS") == "1" then
  QELSE_BeforeInit = {}
  QELSE_BeforeInstall = "QELSE_AfterComplete"
  QELSE_OnInstall = nil
  QELSE_BeforeComplete = 42
end
