-- Shared by the script-API test scripts: check() logs one "FAIL" line per mismatch, done() the
-- closing line the test program looks for.
local failures = 0

local function show(value)
  if type(value) == "string" then return string.format("%q", value) end
  return tostring(value)
end

function check(name, got, expected)
  if got ~= expected then
    failures = failures + 1
    Lua_Logout("FAIL " .. name .. ": got " .. show(got) .. ", expected " .. show(expected) .. "\r\n")
  end
end

function done()
  Lua_Logout("done, " .. failures .. " failures\r\n")
end

local sleep = GLibTab.kernel32:Get("Sleep")

function sleep_ms(ms) sleep(ms) end

-- Polls until ready() gives a true value or about timeout_ms pass; returns that value.
function wait_for(ready, timeout_ms)
  for _ = 1, (timeout_ms or 10000) / 100 do
    local value = ready()
    if value then return value end
    sleep(100)
  end
  return ready()
end

function read_file(path)
  local file = io.open(path, "rb")
  if not file then return nil end
  local text = file:read("*a")
  file:close()
  return text
end

function copy_file(from, to)
  local text = assert(read_file(from), from)
  local file = assert(io.open(to, "wb"))
  file:write(text)
  file:close()
end
