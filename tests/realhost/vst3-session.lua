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
local TRACK = "Take"
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
  start_engine("Pink Noise")
  assert(create_session(dir, name, 44100), "could not create the session")
  Session:cfg():set_use_region_fades(false)  -- the bounce reads the take unfaded
  local track = Session:new_audio_track(2, 2, nil, 1, TRACK, ARDOUR.PresentationInfo.max_order,
                                        ARDOUR.TrackMode.Normal, true):front()
  local take = record_take(track, 2)
  print_sources("take", take)

  local proc = ARDOUR.LuaAPI.new_plugin(Session, "Kovalith", ARDOUR.PluginType.VST3, "")
  assert(not proc:isnil(), "Ardour does not know Kovalith (VST3)")
  -- Inserted inactive and saved so: Ardour's engine would otherwise run it for
  -- a timing-dependent number of cycles after the session loads.
  assert(track:add_processor_by_index(proc, 0, nil, false) == 0, "could not insert Kovalith")
  proc:deactivate()
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
  assert(Session:save_state("", false, false, false, false, false) == 0, "could not save")
end

local function bounce()
  start_engine("Silence")
  assert(load_session(dir, name), "could not reopen the session")
  local track = Session:route_by_name(TRACK):to_track()
  local proc = track:nth_plugin(0)
  assert(not proc:isnil() and proc:display_name() == "Kovalith", "Kovalith is not on the track")
  assert(not proc:active(), "the plug-in was saved inactive")
  assert(Session:save_state("reopened", false, false, false, false, false) == 0, "could not save the snapshot")

  local take = first_region(track)
  -- The engine stops first: between activating the plug-in and the bounce it
  -- would otherwise run it on silence for a timing-dependent number of cycles.
  assert(AudioEngine:stop(false) == 0, "the engine did not stop")
  proc:activate()
  local first = take:position():samples()
  local bounced = track:bounce_range(first, first + take:length():samples(), ARDOUR.InterThreadInfo(),
                                     track:main_outs(), false, "bounce", false)
  assert(not bounced:isnil(), "the bounce failed")
  print_sources("bounce", bounced)
end

if mode == "create" then create() elseif mode == "bounce" then bounce() else error("unknown mode " .. tostring(mode)) end
close_session()
print("END OF SCRIPT")
