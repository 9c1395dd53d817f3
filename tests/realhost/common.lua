-- What the real-host session scripts share, loaded with dofile by each: an
-- engine on the Dummy backend, a recorded take on a stereo track, the plug-in
-- inserted inactive, the reopened session, and the bounce. Lines starting with
-- "take" and "bounce" name a region's start, length and source files.
local common = { TRACK = "Take" }

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

-- A new session whose stereo track holds a two-second take of the backend's
-- pink noise; prints its "take" line and returns the track.
function common.new_session_with_take(dir, name)
  start_engine("Pink Noise")
  assert(create_session(dir, name, 44100), "could not create the session")
  Session:cfg():set_use_region_fades(false)  -- the bounce reads the take unfaded
  local track = Session:new_audio_track(2, 2, nil, 1, common.TRACK, ARDOUR.PresentationInfo.max_order,
                                        ARDOUR.TrackMode.Normal, true):front()
  print_sources("take", record_take(track, 2))
  return track
end

-- Inserted inactive and saved so: Ardour's engine would otherwise run it for
-- a timing-dependent number of cycles after the session loads.
function common.insert_inactive(track, processor, what)
  assert(not processor:isnil(), "Ardour does not know " .. what)
  assert(track:add_processor_by_index(processor, 0, nil, false) == 0, "could not insert Kovalith")
  processor:deactivate()
end

function common.save(snapshot)
  assert(Session:save_state(snapshot, false, false, false, false, false) == 0,
         snapshot == "" and "could not save" or "could not save the snapshot")
end

-- The saved session reopened on a silent engine: its track and the plug-in on
-- it, which must still be inactive.
function common.reopen(dir, name)
  start_engine("Silence")
  assert(load_session(dir, name), "could not reopen the session")
  local track = Session:route_by_name(common.TRACK):to_track()
  local processor = track:nth_plugin(0)
  assert(not processor:isnil() and processor:display_name() == "Kovalith", "Kovalith is not on the track")
  assert(not processor:active(), "the plug-in was saved inactive")
  return track, processor
end

-- Bounces the take through the activated plug-in; prints the "bounce" line.
function common.bounce_take(track, processor)
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

-- Runs the script's create or bounce; the last line is "END OF SCRIPT"
-- (ardour7-lua may crash while shutting down after it).
function common.run(mode, create, bounce)
  if mode == "create" then create() elseif mode == "bounce" then bounce() else error("unknown mode " .. tostring(mode)) end
  close_session()
  print("END OF SCRIPT")
end

return common
