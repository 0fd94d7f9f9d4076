-- SPDX-License-Identifier: MIT
--[[
  An example host script for libVRKFont.

  The library never talks to a design or office application itself. For every
  script-driven call it loads the Lua file named by the caller's scptPath into
  a fresh interpreter, runs its top level, and calls one global function, the
  handler, with text arguments. Nothing survives between calls: globals set
  here are gone at the next call, and a file replaced on disk takes effect at
  once. Keep it as source text: a chunk precompiled with luac5.4 does not load.

  What the library reads back:
    * a string result is the answer text; a number result is its decimal text;
      anything else (a table, nil, nothing) is an answer without text;
    * an error raised in a handler, or a handler that is missing, is "no answer";
    * a file that is missing, does not compile, or whose top level raises an
      error is "not loaded"; so is anything but Lua source text in a regular
      file: a chunk precompiled with luac5.4 (Lua does not check those, and a
      damaged one would corrupt the caller's memory), a FIFO or a device;
    * nothing limits a handler's time or memory: the script is the caller's
      own code;
    * os.exit raises an error here instead of ending the caller's process.

  Four of the five handlers answer a JSON object as text. The library reads its
  member "code" (a JSON string or number, compared as decimal text) and copies
  the members named below into its own result unchanged, whatever their JSON
  type. An answer that is not JSON at all counts as success without members;
  JSON that is not an object (an array, a bare number) is a failure.

  This example does not reach any application. It logs each request to
  $VRKFONT_HOST_LOG (when set) and answers success, which is enough to try the
  library end to end:

    VRKFONT_HOST_LOG=/tmp/host.log vrkfont apply-font Menlo-Regular --script examples/host-script.lua
]]

local function log(handler, ...)
  local path = os.getenv("VRKFONT_HOST_LOG")
  if not path then return end
  local file = io.open(path, "a")
  if not file then return end
  file:write(os.date("!%Y-%m-%dT%H:%M:%SZ"), " ", handler)
  for i = 1, select("#", ...) do
    file:write(" [", (select(i, ...)), "]")
  end
  file:write("\n")
  file:close()
end

-- Enough JSON for the answers below: strings, numbers, booleans, arrays (tables
-- with 1..n) and objects (other tables).
local function json(value)
  local kind = type(value)
  if kind == "string" then
    return '"' .. value:gsub('[%c"\\]', function(c)
      return string.format("\\u%04x", c:byte())
    end) .. '"'
  elseif kind == "number" or kind == "boolean" then
    return tostring(value)
  elseif kind == "table" then
    local parts = {}
    if #value > 0 then
      for _, item in ipairs(value) do parts[#parts + 1] = json(item) end
      return "[" .. table.concat(parts, ",") .. "]"
    end
    for key, item in pairs(value) do parts[#parts + 1] = json(tostring(key)) .. ":" .. json(item) end
    return "{" .. table.concat(parts, ",") .. "}"
  end
  return "null"
end

local VERSION = "example-1"

--[[ setSoftwareFont(host, postscriptName, arg3, arg4, product)
  host            "Photoshop", "Illustrator", "InDesign", "AfterEffects", "Word",
                  "PowerPoint", "Sketch", "AdobeXD" or "Keynote". For "Sketch" and
                  "AdobeXD" the library has already written the font name where the
                  companion plug-in reads it.
  postscriptName  the font to apply to the current selection.
  arg3, arg4      the caller's own texts, passed through untouched.
  product         "Muxan" or "Kelvra", the calling application's variant.
  Answer: {"code": ..., "version": ...}
    code "102"    the selection could not take the font (no text layer, the host
                  refused): reported as "Layer Error".
    anything else success.
    version       any JSON value; copied into the result (left out when absent).
]]
function setSoftwareFont(host, postscriptName, arg3, arg4, product)
  log("setSoftwareFont", host, postscriptName, arg3, arg4, product)
  return json({ code = "1", version = VERSION })
end

--[[ setSoftwareBatchFonts(host, fontMap)
  host     the frontmost supported host, or "" when there is none: this call is
           made whatever is in front, so decide here what to do without a host.
  fontMap  the caller's description of the replacements (typically JSON).
  Answer: {"code": ..., "version": ..., "doResult": ...}
    code "101"   reported as "Layer Error".
    code "102"   the host could not be reached: "Can`t connect to software".
    other        success.
    doResult     any JSON value; the caller receives it as "fontMapResult".
  Note that 101 and 102 mean the other way round from setSoftwareFont.
]]
function setSoftwareBatchFonts(host, fontMap)
  log("setSoftwareBatchFonts", host, fontMap)
  if host == "" then
    return json({ code = "102", version = VERSION })
  end
  return json({ code = "1", version = VERSION, doResult = { replaced = 0 } })
end

--[[ setSoftwareDoJs(host, javascript)
  host        "Photoshop" or "Illustrator"; called once for each of them that has a
              window, Photoshop first.
  javascript  the caller's script text for that host (may be empty).
  Answer: {"code": ..., "version": ..., "doResult": ...}
    code "101"  the script was not run: "Not Do".
    other       success.
    version, doResult  any JSON values, copied into that host's result.
]]
function setSoftwareDoJs(host, javascript)
  log("setSoftwareDoJs", host, javascript)
  return json({ code = "1", version = VERSION, doResult = "" })
end

--[[ getSoftwareFilePath(host)
  host  the frontmost supported host.
  Answer: plain text, not JSON: the open document's path with ":" between the
  components and a volume name first, "Disk:home:me:poster.psd". The library
  drops the volume name and turns the rest into "/home/me/poster.psd". An empty
  answer, or one without ":", means there is no document path.
]]
function getSoftwareFilePath(host)
  log("getSoftwareFilePath", host)
  return ""
end

--[[ getSoftwareFileFonts(host)
  host  the frontmost supported host.
  Answer: {"code": ..., "fontListString": ...}
    code "102"      reported as "Layer Error".
    other           success.
    fontListString  any JSON value, typically a string the caller knows how to
                    read; copied unchanged (left out when absent).
]]
function getSoftwareFileFonts(host)
  log("getSoftwareFileFonts", host)
  return json({ code = "1", fontListString = "[]" })
end
