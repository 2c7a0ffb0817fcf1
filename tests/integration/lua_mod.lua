-- A stand-in for the game's Lua mod, built on mod/tolvane_speech.lua, for the integration
-- tests and the demo. Each line of standard input is a Lua expression, evaluated with `bridge`,
-- alive(seconds) and names() in scope; each is answered by one line: what it returned, or
-- "error: ...".
-- usage: lua5.4 lua_mod.lua MODULE BRIDGE_FOLDER

-- os.clock is CPU time on Linux, where this runs: the module gets the wall clock instead.
local function uptime()
    local file = assert(io.open("/proc/uptime"))
    local seconds = file:read("n")
    file:close()
    return seconds
end

local env = setmetatable({bridge = dofile(arg[1]).open(arg[2], uptime)}, {__index = _G})

-- Keeps the open menu alive for seconds, as a mod's frames would.
function env.alive(seconds)
    local stop = uptime() + seconds
    while uptime() < stop do
        assert(env.bridge:keep_menu_alive())
        os.execute("sleep 0.05")
    end
    return true
end

-- The names of the commands that came since the last call, separated by spaces.
function env.names()
    local out = {}
    for _, command in ipairs(env.bridge:commands()) do out[#out + 1] = command.name end
    return table.concat(out, " ")
end

for line in io.lines() do
    local chunk, err = load("return " .. line, "=stdin", "t", env)
    local results = chunk and table.pack(pcall(chunk)) or {false, err, n = 2}
    local words = {}
    for i = 2, results.n do words[#words + 1] = tostring(results[i]) end
    io.write(results[1] and "" or "error: ", table.concat(words, " "), "\n")
    io.stdout:flush()
end
