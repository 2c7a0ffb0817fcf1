-- tolvane_speech.lua: the mod's side of the three files it shares with TolvaneSpeech.exe,
-- all in the bridge's exe folder:
--
--   speech.txt      mod to bridge   one line per text, appended
--   menu_state.txt  mod to bridge   "menu 1 N" or "menu 0 N", rewritten whole
--   cmd.txt         bridge to mod   "key NAME TICK" lines, appended by the bridge
--
-- Plain Lua 5.4 using io, os and string only, so a mod can copy it beside its own files and
-- load it with dofile or require. A file that cannot be written is an answer (nil and a
-- message), never an error: a mod has to survive a missing folder. So is a missing text (nil),
-- the mod's own missing string, which should not break the game's hook it is spoken from. Any
-- other wrong argument is a programming mistake and raises. No file is held open between calls.
-- One Lua state owns the bridge's files: a second one would take the same keys and write
-- the menu's counter over the first one's.
--
--   local tolvane = dofile(mod_folder .. "/tolvane_speech.lua")
--   local bridge = tolvane.open(bridge_folder)

local M = {}

-- The release of TolvaneSpeech this module comes with.
M.VERSION = "1.2.0"

-- The bridge cuts a line after 16384 bytes (prefix included, line feed not), and it reads
-- each piece as a line of its own.
local LINE_MAX = 16384
-- A text too long for one line is cut at a space when one is this close to the limit.
local SPACE_NEAR = 200
-- The bridge keeps at most 510 UTF-16 units of a watchdog text and drops a longer "?" line
-- without a word.
local WATCHDOG_UNITS = 510
-- Seconds between rewrites of an open menu's state: at least one second apart, so that a call
-- every frame costs only a look at the clock, and due after one second, so that a caller who
-- calls at least once a second rewrites at least every two, well inside the bridge's 5 s.
local MENU_PACE = 1
-- Texts history keeps, in a ring that never grows: enough for a repeat key and a look back.
local HISTORY_MAX = 100

local Bridge = {}
Bridge.__index = Bridge

-- Windows takes either separator; the caller's own is kept.
local function join(folder, name)
    local sep = folder:find("\\", 1, true) and "\\" or "/"
    return (folder:gsub("[/\\]+$", "")) .. sep .. name
end

-- One open, one write and one close per call: no handle stays open on a file the bridge
-- follows, and a call's lines go out together. The bridge takes a line only once its line feed
-- is there, so it never reads half of one. A third result, true, says that the file was opened
-- and the write failed after that, so part of data may be in it.
local function write_file(path, mode, data)
    local file, err = io.open(path, mode)
    if not file then return nil, err end
    local written, werr = file:write(data)
    local closed, cerr = file:close()
    if written and closed then return true end
    return nil, werr or cerr, true
end

-- Appends to speech.txt. A write cut short (a full disk) may leave the file inside a line; the
-- next write then starts with a line feed, so that its text is not glued to that part (the
-- bridge skips the empty line this makes where nothing was cut).
local function append_speech(self, data)
    local ok, err, partly = write_file(self.speech_path, "ab", self.speech_cut and "\n" .. data or data)
    if ok then self.speech_cut = false elseif partly then self.speech_cut = true end
    return ok, err
end

-- Lua's own string functions take a number where a text is due; so does this module, and a
-- value that knows its text (__tostring) gives that. nil gives nil and a message. Checked by
-- each public function itself, so the error names the caller's line.
local function check_text(text)
    local kind = type(text)
    if kind == "string" then return text end
    if kind == "number" then return tostring(text) end
    if kind == "nil" then return nil, "tolvane: no text (nil)" end
    local meta = getmetatable(text)
    if type(meta) == "table" and meta.__tostring then return tostring(text) end
    error("tolvane: text must be a string, got " .. kind, 3)
end

-- Each run of CR and LF becomes one space: a line feed inside a text would end its line, and
-- the rest, as a line of its own, would cut the first part off. Any other control byte becomes
-- a space as well: a NUL would end the text where the bridge hands it on, and none is speech.
local function one_line(text)
    return (text:gsub("[\r\n]+", " "):gsub("[\0-\31\127]", " "))
end

-- The bridge drops a line that is only blanks after its prefix, so nothing is written for it.
local function blank(text)
    return not text:find("[^ \t]")
end

local function continuation(byte)
    return byte and byte >= 0x80 and byte < 0xC0
end

-- Pieces of at most max bytes: cut at a space when one is near the limit (the bridge trims
-- the blanks at both sides of the cut), else before a byte that starts a UTF-8 character, so
-- no character is ever split.
local function pieces(text, max)
    local out, first = {}, 1
    while #text - first + 1 > max do
        local stop = first + max -- the first byte that does not fit
        local window = stop - SPACE_NEAR
        local space = text:sub(window, stop):match(".*() ")
        local cut, next_first
        if space then
            cut = window + space - 1
            next_first = cut + 1
        else
            cut = stop
            -- A character has at most three continuation bytes; more is no UTF-8 anyway.
            while cut > stop - 3 and continuation(text:byte(cut)) do cut = cut - 1 end
            next_first = cut
        end
        out[#out + 1] = text:sub(first, cut - 1)
        first = next_first
    end
    out[#out + 1] = text:sub(first)
    return out
end

-- The caller's text, into the ring of history, over its oldest entry once it is full.
local function remember(self, text)
    self.history_ring[self.history_next] = text
    self.history_next = self.history_next % HISTORY_MAX + 1
    if self.history_kept < HISTORY_MAX then self.history_kept = self.history_kept + 1 end
end

-- Every line carries its "!", "+" or "^", so a text is spoken as it is whatever its first
-- character: "-" would stop all speech, "#" make it a comment, "?" arm the watchdog, "^" make it
-- an alert. A text too long for one line goes out as several; the first has the caller's flag,
-- the rest are queued behind it. With keep, a text that went into the file whole is remembered
-- as the caller gave it: a repeat key says what the player heard, never a text lost to a failed
-- write, nor nothing for a blank one.
local function write_text(self, text, flag, keep)
    local line = one_line(text)
    if blank(line) then return true end
    local data = ""
    for i, piece in ipairs(pieces(line, LINE_MAX - 1)) do
        data = data .. (i == 1 and flag or "+") .. piece .. "\n"
    end
    local ok, err = append_speech(self, data)
    if ok and keep then remember(self, text) end
    return ok, err
end

-- The bytes of the well-formed UTF-8 character at i of text, or nil: a stray continuation
-- byte, a sequence cut short, an overlong form, a surrogate, or past U+10FFFF.
local function char_bytes(text, i)
    local b1, b2, b3, b4 = text:byte(i, i + 3)
    if b1 < 0x80 then return 1 end
    local length, low, high -- the second byte's range
    if b1 >= 0xC2 and b1 <= 0xDF then length, low, high = 2, 0x80, 0xBF
    elseif b1 == 0xE0 then length, low, high = 3, 0xA0, 0xBF
    elseif b1 == 0xED then length, low, high = 3, 0x80, 0x9F
    elseif b1 >= 0xE1 and b1 <= 0xEF then length, low, high = 3, 0x80, 0xBF
    elseif b1 == 0xF0 then length, low, high = 4, 0x90, 0xBF
    elseif b1 >= 0xF1 and b1 <= 0xF3 then length, low, high = 4, 0x80, 0xBF
    elseif b1 == 0xF4 then length, low, high = 4, 0x80, 0x8F
    else return nil end
    if not b2 or b2 < low or b2 > high then return nil end
    if length >= 3 and not continuation(b3) then return nil end
    if length == 4 and not continuation(b4) then return nil end
    return length
end

-- The longest start of text that fits units UTF-16 units, cut between characters, counted as
-- the bridge's conversion counts them: a character of four UTF-8 bytes takes two units, any
-- other one, and so does each byte that starts no character (it becomes U+FFFD).
local function fit_units(text, units)
    local used, i = 0, 1
    while i <= #text do
        local length = char_bytes(text, i)
        used = used + (length == 4 and 2 or 1)
        if used > units then return text:sub(1, i - 1) end
        i = i + (length or 1)
    end
    return text
end

-- The last number of menu_state.txt as an earlier load of the mod left it, so that the
-- counter goes on from there: starting again at 1 could write the very text the bridge saw
-- last, which it would not take as a change.
local function last_menu_count(path)
    local file = io.open(path, "rb")
    if not file then return 0 end
    local text = file:read(64) or ""
    file:close()
    local digits = text:match("(%d+)%s*$")
    return digits and #digits <= 15 and tonumber(digits) or 0
end

-- "menu 1 N" or "menu 0 N", with N one more each time: the bridge acts only on a change of
-- the text, and any change counts as the mod being alive. The file is rewritten in place (a
-- rename over it fails on Windows); the bridge ignores the moment it is empty. Only a write
-- that went through sets the pace; a failed one is due again at once.
local function write_menu(self)
    self.menu_count = (self.menu_count or last_menu_count(self.menu_path)) + 1
    local now = self.clock()
    local line = string.format("menu %d %d\n", self.menu_open and 1 or 0, self.menu_count)
    local ok, err = write_file(self.menu_path, "wb", line)
    self.menu_write_due = not ok
    if ok then self.menu_written_at = now end
    return ok, err
end

-- The menu's status after the bridge's answers are forgotten: a new bridge knows nothing of
-- the last one's, and a menu the mod keeps open is asked of it anew.
local function menu_fresh(self)
    self.menu_state = self.menu_open and "asked" or "closed"
end

-- Touches no file. clock, for tests or a better timer of the game, returns seconds as a
-- number. The default os.clock is wall-clock time on Windows, where the game runs (its C
-- runtime counts milliseconds from the start of the process); elsewhere it is CPU time, so
-- pass a clock there. os.time would be too coarse for the menu's pace: one-second steps.
function M.open(folder, clock)
    if type(folder) ~= "string" or folder == "" then
        error("tolvane: open needs the bridge's folder, got " .. tostring(folder), 2)
    end
    if clock ~= nil and type(clock) ~= "function" then
        error("tolvane: clock must be a function, got " .. type(clock), 2)
    end
    return setmetatable({
        speech_path = join(folder, "speech.txt"),
        menu_path = join(folder, "menu_state.txt"),
        cmd_path = join(folder, "cmd.txt"),
        clock = clock or os.clock,
        menu_open = false,
        menu_state = "closed", -- what menu_status answers
        menu_count = nil, -- read from menu_state.txt at the first write
        menu_written_at = 0,
        menu_write_due = false, -- the last write of menu_state.txt failed
        cmd_read = nil, -- bytes of cmd.txt taken so far, complete lines only; nil: not looked yet
        cmd_last = "", -- the last line taken, with its line feed
        cmd_after_reset = false, -- cmd_read and cmd_last are the last session's, as reset found them
        speech_cut = false, -- the last write to speech.txt failed part way
        history_ring = {}, -- ring of the last HISTORY_MAX texts written by say, queue and alert
        history_next = 1, -- the slot the next text goes into
        history_kept = 0, -- texts in the ring
    }, Bridge)
end

-- The C runtime's errno for a missing file or folder, on Windows as elsewhere.
local ENOENT = 2

-- The bytes of path from offset on; nil when it is missing, false when it is there but cannot
-- be read now (a virus scanner holding it, say).
local function read_from(path, offset)
    local file, _, code = io.open(path, "rb")
    if not file then
        if code == ENOENT then return nil end
        return false
    end
    local data = file:seek("set", offset) and file:read("a")
    file:close()
    return data or false
end

-- What cmd.txt holds now is the last session's. The first commands after this looks where its
-- last line was: still there, its keys are skipped; gone (a new bridge emptied the file and has
-- written keys already), the file is the new bridge's and is read from its start. A file that
-- is missing or empty held nothing of the last session, and one that cannot be read now leaves
-- the first commands to start at the end, as after open.
local function remember_last_session(self)
    local data = read_from(self.cmd_path, 0)
    self.cmd_read, self.cmd_last, self.cmd_after_reset = nil, "", false
    if data == nil or data == "" then
        self.cmd_read = 0
    elseif data then
        local complete = data:match("^.*\n") or ""
        self.cmd_read, self.cmd_last = #complete, complete:match("[^\n]*\n$") or ""
        self.cmd_after_reset = true
    end
end

-- Once when the mod starts, before it starts the bridge: an empty speech.txt, so that a bridge
-- reading it from the start does not speak the last session's lines again, and the menu
-- written as closed, so that this is the first text a new bridge sees (its baseline) and the
-- mod's first opening counts at once. The keys in cmd.txt so far are the last session's: the
-- next commands starts after them, unless a new bridge has emptied the file by then.
function Bridge:reset()
    local ok, err = write_file(self.speech_path, "wb", "")
    if not ok then return nil, err end
    self.speech_cut = false
    self.menu_open = false
    menu_fresh(self)
    remember_last_session(self)
    return write_menu(self)
end

-- A caller's text, checked, written with its flag and kept in history. The public functions
-- call it last (a tail call), so that an error still names the caller's line.
local function say_as(self, text, flag)
    local checked, why = check_text(text)
    if not checked then return nil, why end
    return write_text(self, checked, flag, true)
end

-- Speak text, cutting off what is being said.
function Bridge:say(text)
    return say_as(self, text, "!")
end

-- Speak text after what is being said.
function Bridge:queue(text)
    return say_as(self, text, "+")
end

-- Speak text at once, for something urgent and short: where the speech route can, what it cut
-- into goes on afterwards; elsewhere it interrupts as say does.
function Bridge:alert(text)
    return say_as(self, text, "^")
end

-- The last n texts written by say, queue and alert (all kept when n is nil or larger), oldest
-- first, as their callers gave them; n of 0 or less gives none.
function Bridge:history(n)
    -- math.huge asks for all as well; a fraction or NaN is a mistake.
    if n ~= nil and (type(n) ~= "number" or (n % 1 ~= 0 and n ~= 1 / 0)) then
        error("tolvane: history needs a whole number or nil, got " .. tostring(n), 2)
    end
    local count = self.history_kept
    if n and n < count then count = n end -- 0 or less: none
    local list = {}
    for i = 1, count do
        list[i] = self.history_ring[(self.history_next - count + i - 2) % HISTORY_MAX + 1]
    end
    return list
end

-- Say the newest text of history again, cutting off what is being said. The repeat is not
-- kept: pressed twice it says the same text twice, and it pushes none of the game's own texts
-- out of history.
function Bridge:repeat_last()
    local last = self:history(1)[1]
    if last == nil then return nil, "tolvane: nothing said yet" end
    return write_text(self, last, "!", false)
end

function Bridge:stop()
    return append_speech(self, "-\n")
end

-- Speak text unless ok() comes within seconds. A text longer than the bridge keeps is cut to
-- fit rather than refused: a warning the mod cannot prepare for is better heard in part.
function Bridge:watchdog(seconds, text)
    if type(seconds) ~= "number" or seconds % 1 ~= 0 or seconds < 1 or seconds > 3600 then
        error("tolvane: watchdog seconds must be an integer from 1 to 3600, got " .. tostring(seconds), 2)
    end
    local checked, why = check_text(text)
    if not checked then return nil, why end
    checked = fit_units(one_line(checked), WATCHDOG_UNITS)
    if blank(checked) then return true end
    return append_speech(self, string.format("?%d %s\n", seconds, checked))
end

function Bridge:ok()
    return append_speech(self, "#ok\n")
end

-- True when the mod's settings menu opens, false when it closes. A bridge that refused the
-- keyboard refuses every opening while it runs, so "refused" stays; the write still goes out,
-- and the bridge answers it with another NoHook.
function Bridge:menu(open)
    if type(open) ~= "boolean" then
        error("tolvane: menu needs true or false, got " .. tostring(open), 2)
    end
    self.menu_open = open
    -- "armed" stays too when the mod follows an F2 whose Armed was read in the same list.
    if self.menu_state ~= "refused" and not (open and self.menu_state == "armed") then
        self.menu_state = open and "asked" or "closed"
    end
    return write_menu(self)
end

-- "closed", "asked" (menu(true) called, no answer yet), "armed" (the menu keys are the
-- menu's), "refused" (the keyboard cannot be taken while this bridge runs) or "ended" (a
-- failsafe gave the keys back). The bridge's answers count once commands has read them.
function Bridge:menu_status()
    return self.menu_state
end

-- Call often while the menu is open (every frame is fine). The bridge takes a menu whose state
-- has not changed for 5 s for gone, and a bridge started after the menu opened took that
-- opening as its baseline: each rewrite keeps the one and announces the other. A write that
-- failed, open or closed, is tried again at the next call.
function Bridge:keep_menu_alive()
    if not self.menu_write_due then
        if not self.menu_open then return true end
        local elapsed = self.clock() - self.menu_written_at
        -- A clock that went back (another clock, a wrap) makes a rewrite due rather than never.
        if elapsed >= 0 and elapsed < MENU_PACE then return true end
    end
    return write_menu(self)
end

-- The menu's status after a line of cmd.txt. No opening succeeds after a NoHook, so nothing
-- follows it but more of them. An Armed with neither the mod's menu open nor an F2 before it
-- in the same read belongs to an opening that the mod has closed since.
local function note_menu_answer(self, name, after_f2)
    if name == "NoHook" then
        self.menu_state = "refused"
    elseif name == "MenuOff" then
        self.menu_state = "ended"
    elseif name == "Armed" and (self.menu_open or after_f2) then
        self.menu_state = "armed"
    end
end

-- The complete lines of cmd.txt since the last call, in order, as {name = "F1", tick = 12345};
-- a missing file gives an empty list. The first call after open only marks where the file
-- ends: what it holds was handed over before, to an earlier load of the mod or in the last
-- session, and handing it over again would run those keys' actions again. So does the first
-- call after reset, unless a new bridge has rewritten the file since (remember_last_session).
function Bridge:commands()
    local list = {}
    local read, last = self.cmd_read or 0, self.cmd_last
    local data = read_from(self.cmd_path, read - #last)
    local renewed = false
    -- Every new bridge empties the file. When it no longer holds the line taken last where it
    -- was (shorter now, or rewritten past that point already), it is read from the start.
    if data and data:sub(1, #last) ~= last then
        read, last, renewed = 0, "", true
        data = read_from(self.cmd_path, 0)
    end
    -- Not readable now: the same place next time.
    if data == false then return list end
    local first = self.cmd_read == nil or (self.cmd_after_reset and not renewed)
    self.cmd_after_reset = false
    -- A new bridge, or none yet: the last one's answers about the menu no longer hold.
    if renewed or not data then menu_fresh(self) end
    if not data then
        -- Whatever appears later is new.
        self.cmd_read, self.cmd_last = 0, ""
        return list
    end
    -- Up to the last line feed; a partial last line waits for the next call.
    local complete = data:sub(#last + 1):match("^.*\n")
    if not complete then
        self.cmd_read, self.cmd_last = read, last
        return list
    end
    self.cmd_read = read + #complete
    self.cmd_last = complete:match("[^\n]*\n$")
    if first then return list end
    local after_f2 = false
    for line in complete:gmatch("([^\n]*)\n") do
        -- Lines other than "key NAME TICK" are skipped.
        local name, tick = line:match("^key (%w+) (%d+)$")
        if name then
            list[#list + 1] = {name = name, tick = tonumber(tick)}
            -- The bridge gave the keyboard back (a failsafe, or no hook at all): rewriting
            -- "menu 1" would take it again, over and over, so the menu counts as closed
            -- until the mod opens it anew.
            if name == "MenuOff" or name == "NoHook" then self.menu_open = false end
            after_f2 = after_f2 or name == "F2"
            note_menu_answer(self, name, after_f2)
        end
    end
    return list
end

return M
