-- AString and WString: lengths, text round trips through UTF-8 and the ANSI code page (936 under
-- zh_CN), concatenation, equality, indexing and assignment.
dofile(arg[0]:gsub("[^\\/]*$", "") .. "check.lua")
local A, W = AString, WString
local AMeta, WMeta = getmetatable(A.New(1)), getmetatable(W.New(1))
local zhong, wen = "\228\184\173", "\230\150\135"   -- 中, 文 in UTF-8
local zhongwen = zhong .. wen

check("W.New(0)", W.New(0), nil)
check("A.New()", A.New(), nil)
check("A.New(-3)", A.New(-3), nil)
check("A.New(0, '') is an object", getmetatable(A.New(0, "")), AMeta)

for _, c in ipairs({
  {"#W.New(nil, 中文)", #W.New(nil, zhongwen), 2},
  {"#A.New(nil, abc)", #A.New(nil, "abc"), 3},
  {"#A.New(nil, 中文) in code page 936", #A.New(nil, zhongwen), 4},
  {"#W.New(260)", #W.New(260), 0},
  {"#W.New(260, abc)", #W.New(260, "abc"), 3},
  {"#A.New(nil, 12)", #A.New(nil, 12), 2},
  {"#W.New(nil, {})", #W.New(nil, {}), 0},
  {"tostring W 中文", tostring(W.New(nil, zhongwen)), zhongwen},
  {"tostring A 中文", tostring(A.New(nil, zhongwen)), zhongwen},
  {"A from W", tostring(A.New(nil, W.New(nil, zhongwen))), zhongwen},
  {"W from A", tostring(W.New(nil, A.New(nil, zhongwen))), zhongwen},
  {"A 中 first byte is GBK 0xD6, widened to U+FFD6", A.New(nil, zhong)[0], "\239\191\150"},
  {"A 中 second byte is GBK 0xD0", A.New(nil, zhong)[1], "\239\191\144"},
}) do check(c[1], c[2], c[3]) end

-- Capacity: a raw-buffer copy takes the whole block, so it shows the size New chose.
local function capacity_bytes(object)
  for size = 1, 64 do
    local b = RawBuffer.New(size)
    b:OffsetSetAsUInt8(0, 0x55)
    b:OffsetSetAsWString(0, object)
    if b:OffsetGetAsUInt8(0) ~= 0x55 then return size end
  end
end
check("capacity W.New(nil, ab)", capacity_bytes(W.New(nil, "ab")), 6)
check("capacity W.New(10, ab)", capacity_bytes(W.New(10, "ab")), 20)
check("capacity A.New(2, abc)", capacity_bytes(A.New(2, "abc")), 4)
check("capacity A.New(0, '')", capacity_bytes(A.New(0, "")), 1)
check("capacity of a concatenation", capacity_bytes(A.New(20, "ab") .. A.New(20, "c")), 4)

for _, c in ipairs({
  {"A .. number", A.New(nil, "x") .. 5, AMeta, "x5"},
  {"string .. W", "x" .. W.New(nil, "y"), WMeta, "xy"},
  {"A .. W", A.New(nil, zhong) .. W.New(nil, wen), AMeta, zhongwen},
  {"W .. A", W.New(nil, zhong) .. A.New(nil, wen), WMeta, zhongwen},
  {"W .. table", W.New(nil, "a") .. {}, WMeta, "a"},
}) do
  check(c[1] .. " type", getmetatable(c[2]), c[3])
  check(c[1] .. " text", tostring(c[2]), c[4])
end

for _, c in ipairs({
  {"A == A", A.New(nil, "abc") == A.New(10, "abc"), true},
  {"A == A other text", A.New(nil, "abc") == A.New(nil, "abd"), false},
  {"W == W Chinese", W.New(nil, zhongwen) == W.New(nil, zhongwen), true},
  {"A == W", A.New(nil, "abc") == W.New(nil, "abc"), false},
  {"A == string", A.New(nil, "abc") == "abc", false},
}) do check(c[1], c[2], c[3]) end

local w = W.New(nil, "abc")
for _, c in ipairs({{0, "a"}, {2, "c"}, {3, ""}, {-1, nil}, {4, nil}, {100, nil}, {"name", "a"}}) do
  check("W abc[" .. tostring(c[1]) .. "]", w[c[1]], c[2])
end
check("W.New(10, ab)[9]", W.New(10, "ab")[9], "")
check("W.New(10, ab)[10]", W.New(10, "ab")[10], nil)

for _, c in ipairs({
  {1, "Z", "aZc"}, {1, zhong, "a" .. zhong .. "c"}, {0, "Z", "abc"}, {3, "Z", "abc"},
  {1, "", "abc"}, {-1, "Z", "abc"}, {2, "XY", "abX"},
}) do
  local s = W.New(nil, "abc")
  s[c[1]] = c[2]
  check("W abc[" .. c[1] .. "] = " .. c[2], tostring(s), c[3])
end
local a = A.New(nil, "abc")
a[1] = "Q"
check("A abc[1] = Q", tostring(a), "aQc")

-- A buffer that a system function filled completely has no terminator: it ends at its capacity.
local fill = GLibTab.kernel32:Get("RtlFillMemory")
local full = A.New(4)
fill(full, 4, 0x78)
check("# of a full AString", #full, 4)
check("tostring of a full AString", tostring(full), "xxxx")
check("full AString [3]", full[3], "x")
check("full AString [4]", full[4], nil)
check("full AString == same text", full == A.New(nil, "xxxx"), true)
check("full AString .. y", tostring(full .. "y"), "xxxxy")
local wfull = W.New(2)
fill(wfull, 4, 0x41)
check("# of a full WString", #wfull, 2)
check("tostring of a full WString", tostring(wfull), "\228\133\129\228\133\129")
done()
