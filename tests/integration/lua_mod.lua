-- A stand-in for the game's Lua mod on mod/tolvane_speech.lua, for the integration tests and
-- the demo: each line of standard input is a Lua expression, with `bridge`, alive(seconds) and
-- names() in scope, answered by one line. usage: lua5.4 lua_mod.lua MODULE BRIDGE_FOLDER

-- os.clock is CPU time on Linux, where this runs: the module gets the wall clock instead.
local function uptime()
    local file = assert(io.open("/proc/uptime"))
    local seconds = file:read("n")
    file:close()
    return seconds
end

local env = setmetatable({bridge = dofile(arg[1]).open(arg[2], uptime)}, {__index = _G})

-- The open menu kept alive for seconds, as a mod's frames would.
function env.alive(seconds)
    local stop = uptime() + seconds
    while uptime() < stop do
        assert(env.bridge:keep_menu_alive())
        os.execute("sleep 0.05")
    end
    return true
end

-- The names of the commands since the last call.
function env.names()
    local out = {}
    for _, command in ipairs(env.bridge:commands()) do out[#out + 1] = command.name end
    return table.concat(out, " ")
end

for line in io.lines() do
    local ok, result = pcall(assert(load("return " .. line, "=stdin", "t", env)))
    print(ok and tostring(result) or "error: " .. tostring(result))
    io.stdout:flush()
end
