-- RawBuffer: every width and sign, rounding, text getters, pointers and refused accesses.
dofile(arg[0]:gsub("[^\\/]*$", "") .. "check.lua")
local Meta = getmetatable(RawBuffer.New(1))

check("RawBuffer.New(0)", RawBuffer.New(0), nil)
check("RawBuffer.New('x')", RawBuffer.New("x"), nil)
check("new buffer reads 0", RawBuffer.New(4):OffsetGetAsUInt32(0), 0)

-- Each case starts from bytes of 0xAA (170), so a neighbour that still reads 170 shows the width.
for _, c in ipairs({
  {"UInt32", 0, 4294967295, {{"UInt32", 0, 4294967295}, {"Int32", 0, -1}, {"UInt8", 4, 170}}},
  {"Int16", 2, -2, {{"UInt16", 2, 65534}, {"UInt8", 2, 254}, {"Int8", 2, -2}, {"Int16", 2, -2}, {"UInt8", 1, 170}, {"UInt8", 4, 170}}},
  {"Int32", 0, 2147483647, {{"Int32", 0, 2147483647}, {"UInt8", 3, 127}}},
  {"Int32", 0, -2147483648, {{"UInt32", 0, 2147483648}}},
  {"UInt8", 0, 2.5, {{"UInt8", 0, 2}, {"UInt8", 1, 170}}},
  {"UInt8", 0, 3.5, {{"UInt8", 0, 4}}},
  {"Int32", 0, -2.5, {{"Int32", 0, -2}}},
  {"UInt16", 0, 65537, {{"UInt16", 0, 1}, {"UInt8", 2, 170}}},
  {"Int8", 0, -129, {{"Int8", 0, 127}}},
  {"UInt8", 0, 256, {{"UInt8", 0, 0}, {"UInt8", 1, 170}}},
  {"UInt32", 1, 0x01020304, {{"UInt8", 1, 4}, {"UInt8", 4, 1}, {"UInt8", 0, 170}, {"UInt8", 5, 170}, {"UInt32", 1, 0x01020304}}},
  {"UInt32", "x", 7, {{"UInt32", 0, 7}}},
  {"UInt16", "4", "12", {{"UInt16", 4, 12}}},
  {"UInt32", 0, "x", {{"UInt32", 0, 0}}},
  {"Boolean", 0, 0, {{"UInt32", 0, 1}, {"Boolean", 0, true}}},
  {"Boolean", 0, nil, {{"UInt32", 0, 0}, {"Boolean", 0, false}}},
}) do
  local b = RawBuffer.New(8)
  b:OffsetSetAsUInt32(0, 0xAAAAAAAA)
  b:OffsetSetAsUInt32(4, 0xAAAAAAAA)
  b["OffsetSetAs" .. c[1]](b, c[2], c[3])
  for _, read in ipairs(c[4]) do
    check(string.format("SetAs%s(%s, %s) then GetAs%s(%d)", c[1], tostring(c[2]), tostring(c[3]), read[1], read[2]),
          b["OffsetGetAs" .. read[1]](b, read[2]), read[3])
  end
end

-- Accesses outside the block or through no memory at all are refused.
local b = RawBuffer.New(4)
for _, c in ipairs({
  {"UInt32", 1}, {"UInt16", 3}, {"UInt8", 4}, {"UInt8", -1}, {"Int32", 4}, {"Boolean", 1},
  {"WString", 5}, {"AString", 5}, {"Pointer", 5},
}) do
  check("GetAs" .. c[1] .. "(" .. c[2] .. ") of 4 bytes", b["OffsetGetAs" .. c[1]](b, c[2]), nil)
end
b:OffsetSetAsUInt32(1, 0xFFFFFFFF)
b:OffsetSetAsUInt16(3, 0xFFFF)
b:OffsetSetAsInt8(-1, -1)
b:OffsetSetAsPointer(2, b)
b:OffsetSetAsBoolean(1, true)
b:OffsetSetAsWString(0, WString.New(nil, "ab"))
check("refused setters left the buffer alone", b:OffsetGetAsUInt32(0), 0)
check("null object", Meta.OffsetGetAsUInt32(nil, 0), nil)
check("number as object", Meta.OffsetGetAsUInt8(5, 0), nil)
Meta.OffsetSetAsUInt32(nil, 0, 1)
check("the last byte is reachable", (function() b:OffsetSetAsUInt8(3, 9); return b:OffsetGetAsUInt8(3) end)(), 9)
check("a pointer one past the end", Meta.OffsetGetAsUInt8(b:OffsetGetAsPointer(3), 0), 9)

-- Texts.
local zhongwen = "\228\184\173\230\150\135"
local t = RawBuffer.New(16)
t:OffsetSetAsWString(2, WString.New(nil, zhongwen))
check("WString at 2", t:OffsetGetAsWString(2), zhongwen)
t:OffsetSetAsAString(8, AString.New(nil, zhongwen))
check("AString at 8 (code page 936)", t:OffsetGetAsAString(8), zhongwen)
check("6 bytes copied for W ab", (function()
  local r = RawBuffer.New(8)
  r:OffsetSetAsUInt32(4, 0xFFFFFFFF)
  r:OffsetSetAsWString(0, WString.New(nil, "ab"))
  return r:OffsetGetAsUInt16(4) .. "," .. r:OffsetGetAsUInt16(6)
end)(), "0,65535")
local n = RawBuffer.New(4)
n:OffsetSetAsUInt32(0, 0x41424344)
check("text without terminator ends at the block", n:OffsetGetAsAString(0), "DCBA")
check("text from offset 2", n:OffsetGetAsAString(2), "BA")
check("text at the very end", n:OffsetGetAsAString(4), "")
n:OffsetSetAsAString(0, "hi")
check("a Lua string's bytes", n:OffsetGetAsAString(0), "hiBA")
n:OffsetSetAsAString(0, {1, 2, 3})
check("a table copies nothing", n:OffsetGetAsAString(0), "hiBA")

-- Pointers: the address of an offset, as a called function receives it.
local p = RawBuffer.New(32)
local lstrcpyW = GLibTab.kernel32:Get("lstrcpyW", "ptr")
local returned = lstrcpyW(p:OffsetGetAsPointer(8), WString.New(nil, "hi"))
check("lstrcpyW got the address of offset 8", returned, p:OffsetGetAsPointer(8))
check("and wrote there", p:OffsetGetAsWString(8), "hi")
check("nothing before it", p:OffsetGetAsUInt32(4), 0)
p:OffsetSetAsPointer(0, p)
p:OffsetSetAsPointer(4, p:OffsetGetAsPointer(8))
check("stored pointers are 8 apart", p:OffsetGetAsUInt32(4) - p:OffsetGetAsUInt32(0), 8)
p:OffsetSetAsPointer(0, 5)
check("a number stores a null pointer", p:OffsetGetAsUInt32(0), 0)
done()
