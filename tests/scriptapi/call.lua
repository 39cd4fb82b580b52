-- Calls script API functions with arguments taken from the command line and logs every result.
--
--   call.lua FUNCTION ARG... [";" FUNCTION ARG...]...
--
-- An argument is "s:TEXT", "x:HEX" (text as hexadecimal UTF-8 bytes, so that no quoting of the
-- command line can change it), "n:NUMBER", "nil", "true", "false" or "f:log" (a callback that logs
-- "callback PATH NUMBER"). Result k of call c is logged as "c.k=TYPE:VALUE"; "c.n=COUNT" tells
-- how many results call c gave.

local function decode(token)
  if token == "nil" then return nil end
  if token == "true" then return true end
  if token == "false" then return false end
  if token == "f:log" then
    return function(path, number)
      Lua_Logout("callback " .. tostring(path) .. " " .. tostring(number))
      return 0
    end
  end
  local kind, text = token:match("^(%a):(.*)$")
  if kind == "s" then return text end
  if kind == "x" then
    return (text:gsub("%x%x", function(pair) return string.char(tonumber(pair, 16)) end))
  end
  if kind == "n" then return tonumber(text) end
  error("bad argument token: " .. token)
end

local calls, current = {}, nil
for i = 1, #arg do
  if arg[i] == ";" then
    current = nil
  elseif current == nil then
    current = {name = arg[i], args = {}, count = 0}
    calls[#calls + 1] = current
  else
    current.count = current.count + 1
    current.args[current.count] = decode(arg[i])
  end
end

for c, call in ipairs(calls) do
  local results = table.pack(_G[call.name](table.unpack(call.args, 1, call.count)))
  Lua_Logout(c .. ".n=" .. results.n)
  for k = 1, results.n do
    Lua_Logout(c .. "." .. k .. "=" .. type(results[k]) .. ":" .. tostring(results[k]))
  end
end
