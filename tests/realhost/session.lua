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
local TRACK = "Take"
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

local function create()
  start_engine("Pink Noise")
  assert(create_session(dir, name, 44100), "could not create the session")
  Session:cfg():set_use_region_fades(false)  -- the bounce reads the take unfaded
  local track = Session:new_audio_track(2, 2, nil, 1, TRACK, ARDOUR.PresentationInfo.max_order,
                                        ARDOUR.TrackMode.Normal, true):front()
  local take = record_take(track, 2)
  print_sources("take", take)

  local plugin = ARDOUR.LuaAPI.new_plugin(Session, "Kovalith", ARDOUR.PluginType.LXVST, "")
  assert(not plugin:isnil(), "Ardour does not know Kovalith")
  -- Inserted inactive and saved so: Ardour's engine would otherwise run it for
  -- a timing-dependent number of cycles after the session loads.
  assert(track:add_processor_by_index(plugin, 0, nil, false) == 0, "could not insert Kovalith")
  plugin:deactivate()
  for _, p in ipairs(PARAMS) do
    assert(ARDOUR.LuaAPI.set_processor_param(plugin, p[1], p[2]), "could not set parameter " .. p[1])
    local line = param_line("param", plugin, p)
    if p[3] then
      local item = math.floor(p[2] * (p[3] - 1) + 0.5)
      assert(line == "param " .. p[1] .. " " .. item, "parameter " .. p[1] .. " is not item " .. item .. ": " .. line)
    end
    print(line)
  end
  assert(Session:save_state("", false, false, false, false, false) == 0, "could not save")
end

local function bounce()
  start_engine("Silence")
  assert(load_session(dir, name), "could not reopen the session")
  local track = Session:route_by_name(TRACK):to_track()
  local plugin = track:nth_plugin(0)
  assert(not plugin:isnil() and plugin:display_name() == "Kovalith", "Kovalith is not on the track")
  assert(not plugin:active(), "the plug-in was saved inactive")
  assert(Session:save_state("reopened", false, false, false, false, false) == 0, "could not save the snapshot")
  for _, p in ipairs(PARAMS) do print(param_line("reopened", plugin, p)) end

  local take = first_region(track)
  -- The engine stops first: between activating the plug-in and the bounce it
  -- would otherwise run it on silence for a timing-dependent number of cycles.
  assert(AudioEngine:stop(false) == 0, "the engine did not stop")
  plugin:activate()
  local first = take:position():samples()
  local bounced = track:bounce_range(first, first + take:length():samples(), ARDOUR.InterThreadInfo(),
                                     track:main_outs(), false, "bounce", false)
  assert(not bounced:isnil(), "the bounce failed")
  print_sources("bounce", bounced)
end

if mode == "create" then create() elseif mode == "bounce" then bounce() else error("unknown mode " .. tostring(mode)) end
close_session()
print("END OF SCRIPT")
