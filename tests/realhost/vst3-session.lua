-- Ardour's side of the VST3 real-host test, run by ardour7-lua on the Dummy
-- backend:
--   vst3-session.lua create DIR NAME   records a take of pink noise on a stereo
--                                      track, inserts Kovalith (VST3), selects a
--                                      program from its list, sets a few
--                                      parameters, saves with the plug-in inactive
--   vst3-session.lua bounce DIR NAME   reopens the session, saves it as the
--                                      snapshot "reopened", bounces the take
-- Lines starting with "take", "bounce", "program", "param" or "listed" are read
-- by vst3.sh; the last line is "END OF SCRIPT" (ardour7-lua may crash while
-- shutting down after it).
local mode, dir, name = arg[1], arg[2], arg[3]
local common = dofile(debug.getinfo(1, "S").source:match("^@(.*/)") .. "common.lua")
-- A program without tempo-synced LFOs or random shapes (Ardour rounds the
-- position it reports, and the command-line host cannot match chance), then
-- knobs and menus by name: the value Ardour takes (knobs 0..1, menus their
-- item) and the value the plug-in stores for it.
local PROGRAM = { index = 1, label = "Intermittent" }
local PARAMS = {
  { name = "Saturation", index = 9, value = 0.45, stored = "0.45" },
  { name = "Feedback", index = 17, value = 0.62, stored = "0.62" },
  { name = "Filter Type", index = 18, value = 5, stored = "0.5" },  -- "Low Shelf", stored as item / 10
  { name = "LFO 2 Shape", index = 31, value = 3, stored = "3" },    -- "saw dn"
  { name = "Mix", index = 58, value = 0.8, stored = "0.8" },
}

-- Ardour numbers a VST3 plug-in's parameters by their position in its list.
local function parameter_index(plugin, label)
  for i = 0, plugin:parameter_count() - 1 do
    if plugin:parameter_label(i) == label then return i end
  end
  error("Ardour lists no parameter " .. label)
end

-- Every parameter Ardour offers for automation, one "listed" line each.
local function list_parameters(plugin)
  for i = 0, plugin:parameter_count() - 1 do
    if plugin:parameter_is_input(i) and plugin:parameter_is_control(i) then
      print("listed " .. plugin:parameter_label(i))
    end
  end
end

local function create()
  local track = common.new_session_with_take(dir, name)
  local proc = ARDOUR.LuaAPI.new_plugin(Session, "Kovalith", ARDOUR.PluginType.VST3, "")
  common.insert_inactive(track, proc, "Kovalith (VST3)")
  local plugin = proc:to_insert():plugin(0)
  list_parameters(plugin)

  local preset = plugin:preset_by_label(PROGRAM.label)
  assert(preset and preset.valid, "Ardour shows no program " .. PROGRAM.label)
  assert(plugin:load_preset(preset), "could not select " .. PROGRAM.label)
  print("program " .. PROGRAM.index)
  for _, p in ipairs(PARAMS) do
    local i = parameter_index(plugin, p.name)
    assert(ARDOUR.LuaAPI.set_processor_param(proc, i, p.value), "could not set " .. p.name)
    local got = ARDOUR.LuaAPI.get_processor_param(proc, i, true)
    assert(math.abs(got - p.value) < 1e-6, p.name .. " reads back as " .. got)
    print("param " .. p.index .. " " .. p.stored)
  end
  common.save("")
end

local function bounce()
  local track, proc = common.reopen(dir, name)
  common.save("reopened")
  common.bounce_take(track, proc)
end

common.run(mode, create, bounce)
