-- Ardour's side of the real-host test, run by ardour7-lua on the Dummy backend:
--   session.lua create DIR NAME   records a take of the backend's pink noise on
--                                 a stereo track, inserts Kovalith, sets its
--                                 parameters, saves with the plug-in inactive
--   session.lua bounce DIR NAME   reopens the session, saves it as the snapshot
--                                 "reopened", activates the plug-in and bounces
--                                 the take through it
-- Lines starting with "take", "bounce", "param" or "reopened" are read by
-- run.sh; the last line is "END OF SCRIPT" (ardour7-lua may crash while
-- shutting down after it).
local mode, dir, name = arg[1], arg[2], arg[3]
local common = dofile(debug.getinfo(1, "S").source:match("^@(.*/)") .. "common.lua")
-- Parameters set through Ardour, by index, in 0..1; a menu's third field is
-- its item count, and the host sends item / (items - 1): "Saturation",
-- "Delay" 0.2 s, "Feedback", "Delay Sync" 1/16 (7 units of a sixteenth, where
-- 1/8 and 1/32 give other times), "LFO 1 Sync" 1/8, "LFO 2 Shape" saw dn,
-- "LFO 2 Sync" off, "Mix". A synced LFO's phase follows the position Ardour
-- reports, which it rounds: LFO 1's modulation amounts ("LFO 1->S Warp",
-- "LFO 1->Fb Cutoff") go to their centre, so that the command-line host can
-- match the bounce exactly. The delay's sync needs only the tempo (120 bpm on
-- both sides). No random LFO shape either.
local PARAMS = { {9, 0.45}, {16, 0.2}, {17, 0.62}, {22, 6 / 14, 15}, {30, 5 / 14, 15}, {31, 3 / 7, 8},
                 {35, 0, 15}, {43, 0.5}, {49, 0.5}, {58, 0.8} }

-- The plug-in's value of p as run.sh passes it to `kovalith render --set`:
-- a menu's item number, else the value.
local function param_line(label, plugin, p)
  local value = ARDOUR.LuaAPI.get_processor_param(plugin, p[1])
  if p[3] then value = math.floor(value * (p[3] - 1) + 0.5) end
  return label .. " " .. p[1] .. " " .. value
end

local function create()
  local track = common.new_session_with_take(dir, name)
  local plugin = ARDOUR.LuaAPI.new_plugin(Session, "Kovalith", ARDOUR.PluginType.LXVST, "")
  common.insert_inactive(track, plugin, "Kovalith")
  for _, p in ipairs(PARAMS) do
    assert(ARDOUR.LuaAPI.set_processor_param(plugin, p[1], p[2]), "could not set parameter " .. p[1])
    local line = param_line("param", plugin, p)
    if p[3] then
      local item = math.floor(p[2] * (p[3] - 1) + 0.5)
      assert(line == "param " .. p[1] .. " " .. item, "parameter " .. p[1] .. " is not item " .. item .. ": " .. line)
    end
    print(line)
  end
  common.save("")
end

local function bounce()
  local track, plugin = common.reopen(dir, name)
  common.save("reopened")
  for _, p in ipairs(PARAMS) do print(param_line("reopened", plugin, p)) end
  common.bounce_take(track, plugin)
end

common.run(mode, create, bounce)
