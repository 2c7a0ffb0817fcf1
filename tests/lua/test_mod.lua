-- Tests of mod/tolvane_speech.lua. usage: lua5.4 test_mod.lua SCRATCH_FOLDER [NAME_PART]
local tolvane = dofile(arg[0]:match("^(.-)[^/]*$") .. "../../mod/tolvane_speech.lua")
local dir, only = assert(arg[1], "usage: lua5.4 test_mod.lua SCRATCH_FOLDER [NAME_PART]"), arg[2]
local passed, failed = 0, 0

local function read(name)
    local f = io.open(dir .. "/" .. name, "rb")
    local data = f and f:read("a")
    if f then f:close() end
    return data
end

local function write(name, data)
    local f = assert(io.open(dir .. "/" .. name, "wb"))
    f:write(data)
    f:close()
end

local function eq(got, want)
    if got ~= want then error(string.format("got %q, want %q", tostring(got), tostring(want)), 2) end
end

local function names(list)
    local out = ""
    for _, c in ipairs(list) do out = out .. c.name .. " " end
    return out
end

local function joined(list) return table.concat(list, "|") end

local real_open = io.open

-- io.open fails for the files whose path holds part, as Windows would with message; test puts
-- it back after each case, and so does a case that is done with it.
local function refuse_open(part, message)
    io.open = function(path, mode)
        if path:find(part, 1, true) then return nil, path .. ": " .. message end
        return real_open(path, mode)
    end
end

local function test(name, fn)
    if only and not name:find(only, 1, true) then return end
    for _, file in ipairs({"speech.txt", "cmd.txt", "menu_state.txt"}) do os.remove(dir .. "/" .. file) end
    local ok, why = pcall(fn, tolvane.open(dir .. "/"))
    io.open = real_open -- a test may play a full disk or a virus scanner through it
    if ok then passed = passed + 1; print("PASS " .. name)
    else failed = failed + 1; print("FAIL " .. name .. ": " .. tostring(why):gsub("\n", " ")) end
end

test("every_text_keeps_its_first_character_and_stays_one_line", function(b)
    assert(b:say("-stop me not") and b:queue("#no comment") and b:say("?5 no watchdog") and b:queue("+plus"))
    assert(b:say("!bang") and b:say(42) and b:stop() and b:watchdog(5, "Saving\r\nfailed?") and b:ok())
    assert(b:say("one\r\ntwo\n\n\rthree") and b:say("") and b:queue(" \r\n\t") and b:watchdog(9, "\n"))
    -- Control bytes are spaces; a value with __tostring is spoken as its text.
    local named = setmetatable({}, {__tostring = function() return "the captain" end})
    assert(b:say("a\0b\tc\27d\127e\31") and b:queue(named) and b:watchdog(7, "\0") and b:watchdog(8, named))
    assert(b:queue("^caret") and b:alert("^up\nnow") and b:alert(" \n"))
    eq(read("speech.txt"), "!-stop me not\n+#no comment\n!?5 no watchdog\n++plus\n!!bang\n!42\n-\n"
        .. "?5 Saving failed?\n#ok\n!one two three\n!a b c d e \n+the captain\n?8 the captain\n"
        .. "+^caret\n^^up now\n")
    -- History keeps each written text as given, once; a repeat says the newest again, unkept.
    eq(joined(b:history()), "-stop me not|#no comment|?5 no watchdog|+plus|!bang|42|one\r\ntwo\n\n\rthree|"
        .. "a\0b\tc\27d\127e\31|the captain|^caret|^up\nnow")
    write("speech.txt", "")
    assert(b:repeat_last() and b:repeat_last())
    eq(read("speech.txt"), "!^up now\n!^up now\n")
    eq(joined(b:history(2)), "^caret|^up\nnow")
    for i = 1, 105 do b:queue(i) end -- a ring of 100: the oldest go
    eq(#b:history() .. " " .. b:history()[1] .. " " .. #b:history(math.huge), "100 6 100")
    eq(joined(b:history(2)) .. #b:history(0) .. #b:history(-3), "104|10500")
end)

test("a_long_text_is_split_between_characters", function(b)
    local text = string.rep("é", 10000) -- 20,000 bytes, no space
    assert(b:say(text) and b:alert(text))
    local first, rest, alert = read("speech.txt"):match("^!([^\n]*)\n%+([^\n]*)\n(%^[^\n]*\n%+[^\n]*\n)$")
    eq(#first, 16382) -- 16383 would split a character
    eq(first .. rest, text)
    eq(alert, "^" .. first .. "\n+" .. rest .. "\n")
    eq(#b:history() .. b:history(1)[1], "2" .. text)
    -- A space near the limit is where it is cut; a watchdog text is cut to 510 UTF-16 units.
    write("speech.txt", "")
    assert(b:queue(string.rep("a", 16300) .. " " .. string.rep("b", 200)))
    assert(b:watchdog(3, string.rep("€", 600)) and b:watchdog(3, string.rep("😀", 300)))
    -- Each byte that starts no character is one unit, as Windows converts it to U+FFFD.
    assert(b:watchdog(3, string.rep("\x80", 600)) and b:watchdog(3, string.rep("\xE2\x82a", 200)))
    assert(b:watchdog(3, string.rep("\xF0\x9F\x98", 300)))
    eq(read("speech.txt"), "+" .. string.rep("a", 16300) .. "\n+" .. string.rep("b", 200) .. "\n?3 "
        .. string.rep("€", 510) .. "\n?3 " .. string.rep("😀", 255) .. "\n?3 " .. string.rep("\x80", 510)
        .. "\n?3 " .. string.rep("\xE2\x82a", 170) .. "\n?3 " .. string.rep("\xF0\x9F\x98", 170) .. "\n")
end)

test("a_missing_text_is_answered_wrong_arguments_raise_and_nothing_is_written", function(b)
    for _, call in ipairs({{"say"}, {"queue"}, {"alert"}, {"watchdog", 5}}) do
        local ok, why = b[call[1]](b, call[2])
        assert(ok == nil and why == "tolvane: no text (nil)", call[1] .. " gave no answer")
    end
    local calls = {{"queue", {}}, {"say", true}, {"say", print}, {"watchdog", 0, "x"}, {"watchdog", 3601, "x"},
                   {"watchdog", 1.5, "x"}, {"watchdog", "5", "x"}, {"watchdog", 5, false}, {"watchdog"},
                   {"menu", 1}, {"menu"}, {"alert", 7 < 8}, {"history", "5"}, {"history", 1.5}, {"history", 0 / 0}}
    for _, call in ipairs(calls) do
        local ok, why = pcall(b[call[1]], b, call[2], call[3])
        assert(not ok and why:find("tolvane: "), call[1] .. " did not raise")
    end
    for _, args in ipairs({{}, {""}, {dir, 5}}) do assert(not pcall(tolvane.open, args[1], args[2])) end
    local ok, why = b:repeat_last()
    assert(ok == nil and why == "tolvane: nothing said yet" and #b:history() == 0)
    eq(read("speech.txt"), nil)
    eq(read("menu_state.txt"), nil)
end)

test("a_missing_folder_is_an_answer_not_an_error", function()
    local b = tolvane.open(dir .. "/missing")
    for _, call in ipairs({"reset", "say", "queue", "alert", "stop", "ok", "menu"}) do
        local ok, why = b[call](b, call == "menu" or "text")
        assert(ok == nil and why:find("missing"), call)
    end
    eq(#b:commands(), 0)
end)

test("commands_take_whole_lines_and_follow_a_new_bridge", function(b)
    write("cmd.txt", "key F1 100\nkey F2 2") -- the last session's keys, and one being written
    eq(#b:commands(), 0) -- the first call starts at the end
    write("cmd.txt", "key F1 100\nkey F2 200\nnoise\nkey Down x\nkey Armed 210\n")
    local list = b:commands()
    eq(names(list), "F2 Armed ")
    eq(list[2].tick, 210)
    eq(#b:commands(), 0)
    write("cmd.txt", "key F3 5\n") -- a new bridge emptied it, then wrote
    eq(names(b:commands()), "F3 ")
    write("cmd.txt", "key F5 9000000\nkey F6 9000001\n") -- already longer than before
    eq(names(b:commands()), "F5 F6 ")
    os.remove(dir .. "/cmd.txt")
    eq(#b:commands(), 0)
    write("cmd.txt", "key F7 1\n")
    eq(names(b:commands()), "F7 ")
    -- A reloaded mod starts at the end as well, and so does a reset; a new bridge is noticed.
    local reloaded = tolvane.open(dir)
    eq(#reloaded:commands(), 0)
    assert(reloaded:reset())
    write("cmd.txt", "key F7 1\nkey F9 3\n")
    eq(#reloaded:commands(), 0)
    write("cmd.txt", "key F1 4\n")
    eq(names(reloaded:commands()), "F1 ")
    -- A new bridge that emptied the file and wrote keys before the first look: shorter, longer,
    -- or after a reset that found no file at all; each of its keys is handed over once.
    for _, case in ipairs({{"key F1 4\nkey F2 5\n", "key F3 6\n"}, {"key F1 7\n", "key F4 80\nkey F5 81\n"},
                           {nil, "key F6 9\n"}}) do
        if case[1] then write("cmd.txt", case[1]) else os.remove(dir .. "/cmd.txt") end
        assert(reloaded:reset())
        write("cmd.txt", case[2])
        eq(names(reloaded:commands()), (case[2]:gsub("key (%w+) %d+\n", "%1 ")))
        eq(#reloaded:commands(), 0)
    end
end)

test("a_full_disk_glues_no_texts_and_a_held_file_repeats_no_keys", function(b)
    io.open = function(path, mode) -- the disk fills up during this write
        io.open = real_open
        local file = real_open(path, mode)
        return {write = function(_, data) return file:write(data:sub(1, 6)) end,
                close = function() file:close(); return nil, "No space left on device", 28 end}
    end
    local ok, why = b:say("cut short")
    assert(ok == nil and why:find("space"))
    assert(b:queue("whole") and b:ok() and b:repeat_last()) -- a text cut short is not kept
    eq(read("speech.txt"), "!cut s\n+whole\n#ok\n!whole\n")
    eq(joined(b:history()), "whole")

    -- A virus scanner holds cmd.txt for a while: nothing then, and nothing twice after.
    write("cmd.txt", "key F1 1\n")
    eq(#b:commands(), 0)
    write("cmd.txt", "key F1 1\nkey F2 2\n")
    refuse_open("cmd.txt", "Permission denied")
    eq(#b:commands(), 0)
    io.open = real_open
    eq(names(b:commands()), "F2 ")
end)

test("the_version_is_the_projects", function()
    local cmake = assert(real_open(arg[0]:match("^(.-)[^/]*$") .. "../../CMakeLists.txt")):read("a")
    eq(tolvane.VERSION, cmake:match("project%(Tolvane VERSION ([%d.]+)"))
end)

test("menu_state_counts_up_keep_alive_keeps_its_pace_and_the_status_follows_the_bridge", function()
    local now = 100
    local b = tolvane.open(dir, function() return now end)
    local function answered(lines) -- the bridge appends to cmd.txt, the mod reads it
        local file = assert(real_open(dir .. "/cmd.txt", "ab"))
        file:write(lines)
        file:close()
        b:commands()
        return b:menu_status()
    end
    assert(b:reset())
    refuse_open("menu_state", "No such file or directory")
    local ok, why = b:menu(true)
    assert(ok == nil and why:find("No such file") and b:menu_status() == "asked")
    ok, why = b:keep_menu_alive() -- a failed write is due again at once, and answers as it went
    assert(ok == nil and why:find("No such file"))
    io.open = real_open
    assert(b:keep_menu_alive())
    eq(read("menu_state.txt"), "menu 1 4\n")
    local writes = ""
    for step = 1, 40 do -- 4 s in 0.1 s steps
        now = 100 + step / 10
        local before = read("menu_state.txt")
        assert(b:keep_menu_alive())
        if read("menu_state.txt") ~= before then writes = writes .. step .. " " end
    end
    eq(writes, "10 20 30 40 ")
    eq(#b:commands(), 0) -- a mod reads its commands all along
    eq(answered("key Armed 1\n"), "armed")
    now = 50 -- a clock that went back
    assert(b:keep_menu_alive())
    eq(read("menu_state.txt"), "menu 1 9\n")
    eq(answered("key MenuOff 2\n"), "ended") -- the bridge gave the keyboard back: no more "menu 1"
    now = 60
    assert(b:keep_menu_alive())
    eq(read("menu_state.txt"), "menu 1 9\n")
    -- Armed counts for the mod's open menu, or after an F2 the mod has yet to follow.
    assert(b:menu(true) and b:menu(false))
    eq(answered("key Armed 3\n") .. answered("key F2 4\nkey Armed 5\n"), "closedarmed")
    assert(b:menu(true) and b:menu_status() == "armed")
    -- A refusal holds while this bridge runs; a new bridge starts afresh.
    eq(answered("key NoHook 6\n"), "refused")
    assert(b:menu(false) and b:menu(true) and b:menu_status() == "refused")
    write("cmd.txt", "")
    eq(answered(""), "asked")
    -- A failed close is written at the next call as well.
    refuse_open("menu_state", "No such file or directory")
    assert(not b:menu(false))
    io.open = real_open
    assert(b:keep_menu_alive() and b:keep_menu_alive())
    eq(read("menu_state.txt"), "menu 0 16\n")
    assert(tolvane.open(dir):menu(false)) -- a reloaded mod counts on from the file
    eq(read("menu_state.txt"), "menu 0 17\n")
end)

print(string.format("%d passed, %d failed", passed, failed))
os.exit(failed == 0 and 0 or 1)
