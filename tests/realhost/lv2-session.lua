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
local TRACK = "Take"
local URI = "https://kovalith.audio/lv2/kovalith"
-- "FBM": no random LFO shape and no LFO synced to the position (Ardour rounds
-- the position it reports); its delay follows the tempo, 120 bpm in Ardour and
-- in the command-line host alike.
local PRESET = { "FBM", 3 }
-- By port name: the parameter's index and the value in the port's (plain)
-- units, which for these is also the stored value `kovalith render` takes.
local PARAMS = { {"Saturation", 9, 0.45}, {"Feedback", 17, 0.62}, {"LFO 2 Shape", 31, 2},
                 {"Compressor Types", 65, 2}, {"Mix", 58, 0.8} }

local function wait_until(condition, what)
  for _ = 1, 100 do
    if condition() then return end
    sleep(0.1)
  end
  error("timed out waiting for " .. what)
end

local function print_sources(label, region)
  local audio = region:to_audioregion()
  local line = label .. " " .. region:start():samples() .. " " .. region:length():samples()
  for c = 0, audio:n_channels() - 1 do line = line .. " " .. audio:source(c):to_filesource():path() end
  print(line)
end

local function start_engine(device)
  local backend = AudioEngine:set_backend("None (Dummy)", "", "")
  assert(backend, "no Dummy backend")
  backend:set_device_name(device)
  backend:set_sample_rate(44100)
  backend:set_buffer_size(1024)
  assert(AudioEngine:start(false) == 0, "the engine did not start")
end

local function first_region(track)
  for region in track:playlist():region_list():iter() do return region end
  return nil
end

local function record_take(track, seconds)
  wait_until(function() return track:input():nth(0):connected() and track:input():nth(1):connected() end,
             "the track's inputs")
  track:rec_enable_control():set_value(1, PBD.GroupControlDisposition.NoGroup)
  Session:maybe_enable_record(false)
  Session:request_roll(ARDOUR.TransportRequestSource.TRS_UI)
  sleep(seconds)
  Session:request_stop(false, false, ARDOUR.TransportRequestSource.TRS_UI)
  wait_until(function() return not Session:transport_rolling() end, "the transport to stop")
  Session:disable_record(false, false)
  track:rec_enable_control():set_value(0, PBD.GroupControlDisposition.NoGroup)
  wait_until(function() return first_region(track) ~= nil end, "the recorded region")
  return first_region(track)
end

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
  start_engine("Pink Noise")
  assert(create_session(dir, name, 44100), "could not create the session")
  Session:cfg():set_use_region_fades(false)  -- the bounce reads the take unfaded
  local track = Session:new_audio_track(2, 2, nil, 1, TRACK, ARDOUR.PresentationInfo.max_order,
                                        ARDOUR.TrackMode.Normal, true):front()
  local take = record_take(track, 2)
  print_sources("take", take)

  local processor = ARDOUR.LuaAPI.new_plugin(Session, URI, ARDOUR.PluginType.LV2, "")
  assert(not processor:isnil(), "Ardour does not know Kovalith (LV2)")
  -- Inserted inactive and saved so: Ardour's engine would otherwise run it for
  -- a timing-dependent number of cycles after the session loads.
  assert(track:add_processor_by_index(processor, 0, nil, false) == 0, "could not insert Kovalith")
  processor:deactivate()
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
  assert(Session:save_state("", false, false, false, false, false) == 0, "could not save")
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
  start_engine("Silence")
  assert(load_session(dir, name), "could not reopen the session")
  local track = Session:route_by_name(TRACK):to_track()
  local processor = track:nth_plugin(0)
  assert(not processor:isnil() and processor:display_name() == "Kovalith", "Kovalith is not on the track")
  assert(not processor:active(), "the plug-in was saved inactive")
  list_automation(processor)
  assert(Session:save_state("reopened", false, false, false, false, false) == 0, "could not save the snapshot")

  local take = first_region(track)
  -- The engine stops first: between activating the plug-in and the bounce it
  -- would otherwise run it on silence for a timing-dependent number of cycles.
  assert(AudioEngine:stop(false) == 0, "the engine did not stop")
  processor:activate()
  local first = take:position():samples()
  local bounced = track:bounce_range(first, first + take:length():samples(), ARDOUR.InterThreadInfo(),
                                     track:main_outs(), false, "bounce", false)
  assert(not bounced:isnil(), "the bounce failed")
  print_sources("bounce", bounced)
end

if mode == "create" then create() elseif mode == "bounce" then bounce() else error("unknown mode " .. tostring(mode)) end
close_session()
print("END OF SCRIPT")
