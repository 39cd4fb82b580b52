-- Install script of the default installer until the product's own procedure is written: it
-- defines the five events and reports each one on the debug output, installing nothing.
local function report(event)
  Lua_Logout("QELSE " .. event .. ", install path: " .. tostring(global_install_path or InstallPath) .. "\r\n")
end

function QELSE_BeforeInit() report("BeforeInit") end
function QELSE_BeforeInstall() report("BeforeInstall") end
function QELSE_OnInstall() report("OnInstall") end
function QELSE_BeforeComplete() report("BeforeComplete") end
function QELSE_AfterComplete() report("AfterComplete") end
