-- Ardour's side of the LV2 real-host test, run by ardour7-lua on the Dummy backend:
--   lv2-session.lua create DIR NAME   records a take of the backend's pink noise
--                                     on a stereo track, inserts Kovalith (LV2),
--                                     selects a program through its preset, sets
--                                     a knob and menus, saves with the plug-in inactive
--   lv2-session.lua bounce DIR NAME   reopens the session, lists the plug-in's
--                                     automation controls, saves it as the snapshot
--                                     "reopened", activates the plug-in and bounces
--                                     the take through it
-- Lines starting with "take", "bounce", "preset", "param" or "automation" are
-- read by lv2.sh; the last line is "END OF SCRIPT" (ardour7-lua may crash while
-- shutting down after it).
local mode, dir, name = arg[1], arg[2], arg[3]
local common = dofile(debug.getinfo(1, "S").source:match("^@(.*/)") .. "common.lua")
local URI = "https://kovalith.audio/lv2/kovalith"
-- "FBM": no random LFO shape and no LFO synced to the position (Ardour rounds
-- the position it reports); its delay follows the tempo, 120 bpm in Ardour and
-- in the command-line host alike.
local PRESET = { "FBM", 3 }
-- By port name: the parameter's index and the value in the port's (plain)
-- units, which for these is also the stored value `kovalith render` takes.
local PARAMS = { {"Saturation", 9, 0.45}, {"Feedback", 17, 0.62}, {"LFO 2 Shape", 31, 2},
                 {"Compressor Types", 65, 2}, {"Mix", 58, 0.8} }

-- Ardour's number of the input control named `label` (the n-th control parameter).
local function control_number(plugin, label)
  local n = 0
  for i = 0, plugin:parameter_count() - 1 do
    if plugin:parameter_is_control(i) then
      if plugin:parameter_label(i) == label then return n end
      n = n + 1
    end
  end
  error("Kovalith has no control " .. label)
end

local function create()
  local track = common.new_session_with_take(dir, name)
  local processor = ARDOUR.LuaAPI.new_plugin(Session, URI, ARDOUR.PluginType.LV2, "")
  common.insert_inactive(track, processor, "Kovalith (LV2)")
  local plugin = processor:to_insert():plugin(0)
  local preset = plugin:preset_by_label(PRESET[1])
  assert(preset, "no preset " .. PRESET[1])
  assert(plugin:load_preset(preset), "could not load the preset " .. PRESET[1])
  print("preset " .. PRESET[2])
  for _, p in ipairs(PARAMS) do
    local which = control_number(plugin, p[1])
    assert(ARDOUR.LuaAPI.set_processor_param(processor, which, p[3]), "could not set " .. p[1])
    print("param " .. p[2] .. " " .. ARDOUR.LuaAPI.get_processor_param(processor, which))
  end
  common.save("")
end

-- Every automation control the plug-in gives Ardour (any parameter number up to 4096).
local function list_automation(processor)
  local automatable = processor:to_automatable()
  local count = 0
  for id = 0, 4095 do
    local control = automatable:automation_control(Evoral.Parameter(ARDOUR.AutomationType.PluginAutomation, 0, id), false)
    if not control:isnil() then
      count = count + 1
      print("automation " .. id .. " " .. control:name())
    end
  end
  print("automation-count " .. count)
end

local function bounce()
  local track, processor = common.reopen(dir, name)
  list_automation(processor)
  common.save("reopened")
  common.bounce_take(track, processor)
end

common.run(mode, create, bounce)
