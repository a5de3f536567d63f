-- Korvel packet format 97 in Wireshark: reads the pcapng captures that zorvidctl --pcap and
-- zorvid-sim --pcap write with capture/PcapngWriter (link type 147, DLT_USER0): one packet, or
-- one run of bytes that are no packet, per block.
--
-- Installed by the zorvid-l package into Wireshark's global Lua plugin folder; from a source
-- checkout: wireshark -X lua_script:packaging/wireshark/korvel.lua FILE
--
-- Direction: every packet carries it in the flags of its block. Outbound is towards the display
-- (a request), inbound is from the display (an answer or an unsolicited packet), whichever end
-- recorded the traffic: the simulator records the requests it receives as outbound too.
--
-- A packet: "*" "a" LEN_HI LEN_LO ADDRESS SIG INST DATA[n] CHECKSUM 0x0D, LEN = n + 5; byte 6
-- is the instruction of a request and the acknowledge code of an answer; the checksum is 0xFF
-- minus the byte sum (mod 256) of everything before it.

local korvel = Proto("korvel", "Korvel protocol (packet format 97)")

-- The instruction names, as zorvid-l, zorvidctl and the log window print them: the display's
-- own and those every device of the family understands.
local INSTRUCTIONS = {
  [0x20] = "SetChannelFlag",
  [0x23] = "SetChannelValue",
  [0x30] = "GetChannelFlags",
  [0x33] = "GetChannelValues",
  [0x51] = "GetTemperature",
  [0x70] = "SetDateTime",
  [0x71] = "GetDateTime",
  [0x76] = "SetDateTimeParams",
  [0x77] = "GetDateTimeParams",
  [0x78] = "ShowActualInformation",
  [0x80] = "GetDisplayChars",
  [0x81] = "GetDisplayData",
  [0x83] = "GetDisplayBrightness",
  [0x84] = "GetDisplayDataExpiration",
  [0x85] = "GetDisplayBrightnessAuto",
  [0x90] = "SetDisplayChars",
  [0x91] = "SetDisplayData",
  [0x93] = "SetDisplayBrightness",
  [0x94] = "SetDisplayDataExpiration",
  [0x95] = "SetDisplayBrightnessAuto",
  [0xE0] = "WriteCommParams",
  [0xE1] = "SetByte",
  [0xE2] = "SetText",
  [0xE3] = "CommandE3",
  [0xE4] = "EnableConfiguration",
  [0xEB] = "AssignAddress",
  [0xEE] = "SetFlag",
  [0xF0] = "ReadCommParams",
  [0xF1] = "GetByte",
  [0xF2] = "GetText",
  [0xF3] = "Identification",
  [0xFA] = "ReadIdentifiers",
  [0xFE] = "GetFlag",
}

local PREFIX = 0x2A      -- "*"
local FORMAT = 0x61      -- "a"
local TERMINATOR = 0x0D
local HEADER_SIZE = 7    -- prefix, format, length, address, SIG, instruction
local SHORTEST = 9       -- a packet without data
local BROADCAST = 0xFE   -- a request to it is answered from any address

local function is_unsolicited(code)
  return code >= 0x0C and code <= 0x0F
end

-- What an acknowledge code means: 0 success, 0x0C..0x0F a packet the display sent on its own,
-- anything else a refusal whose reason is the device's.
local function acknowledge_meaning(code)
  if code == 0 then return "OK" end
  if is_unsolicited(code) then return "Unsolicited" end
  return "Refused"
end

local ACKNOWLEDGES = {}
for code = 0, 255 do
  ACKNOWLEDGES[code] = acknowledge_meaning(code)
end

local DIRECTION_TO_DISPLAY = 0
local DIRECTION_FROM_DISPLAY = 1
local DIRECTIONS = {
  [DIRECTION_TO_DISPLAY] = "To the display (request)",
  [DIRECTION_FROM_DISPLAY] = "From the display (answer or unsolicited)",
}

-- How the Info column names the address: where a request goes, where an answer comes from.
local ADDRESS_WORDS = {
  [DIRECTION_TO_DISPLAY] = "→",
  [DIRECTION_FROM_DISPLAY] = "from",
}

local CHECKSUM_BAD = 0
local CHECKSUM_GOOD = 1

local f = korvel.fields
f.direction = ProtoField.uint8("korvel.direction", "Direction", base.DEC, DIRECTIONS)
f.prefix = ProtoField.uint8("korvel.prefix", "Prefix", base.HEX)
f.format = ProtoField.uint8("korvel.format", "Format", base.HEX)
f.length = ProtoField.uint16("korvel.length", "Length", base.DEC)
f.address = ProtoField.uint8("korvel.address", "Address", base.HEX)
f.sig = ProtoField.uint8("korvel.sig", "SIG", base.HEX)
f.instruction = ProtoField.uint8("korvel.instruction", "Instruction", base.HEX, INSTRUCTIONS)
f.instruction_name = ProtoField.string("korvel.instruction.name", "Instruction name")
f.acknowledge = ProtoField.uint8("korvel.acknowledge", "Acknowledge", base.HEX, ACKNOWLEDGES)
f.acknowledge_meaning = ProtoField.string("korvel.acknowledge.meaning", "Acknowledge meaning")
f.code = ProtoField.uint8("korvel.code", "Instruction or acknowledge (direction unknown)",
                          base.HEX)
f.request_instruction = ProtoField.uint8("korvel.request.instruction", "Answers instruction",
                                         base.HEX, INSTRUCTIONS)
f.request_frame = ProtoField.framenum("korvel.request.frame", "Request in frame", base.NONE,
                                      frametype.REQUEST)
f.data = ProtoField.bytes("korvel.data", "Data")
f.checksum = ProtoField.uint8("korvel.checksum", "Checksum", base.HEX)
f.checksum_status = ProtoField.uint8("korvel.checksum.status", "Checksum status", base.DEC,
                                     { [CHECKSUM_BAD] = "Bad", [CHECKSUM_GOOD] = "Good" })
f.terminator = ProtoField.uint8("korvel.terminator", "Terminator", base.HEX)
f.noise = ProtoField.bytes("korvel.noise", "Bytes that are no packet")

local e = {
  bad_checksum = ProtoExpert.new("korvel.checksum.bad", "Bad checksum", expert.group.CHECKSUM,
                                 expert.severity.ERROR),
  bad_terminator = ProtoExpert.new("korvel.terminator.bad", "Bad terminator",
                                   expert.group.PROTOCOL, expert.severity.ERROR),
  noise = ProtoExpert.new("korvel.noise.expert", "Not a Korvel packet", expert.group.PROTOCOL,
                          expert.severity.WARN),
  refused = ProtoExpert.new("korvel.acknowledge.refused", "Request refused",
                            expert.group.RESPONSE_CODE, expert.severity.NOTE),
  unanswered = ProtoExpert.new("korvel.request.unknown", "No request seen for this answer",
                               expert.group.SEQUENCE, expert.severity.NOTE),
}
korvel.experts = { e.bad_checksum, e.bad_terminator, e.noise, e.refused, e.unanswered }

-- Requests waiting for their answer, keyed by address and SIG; filled on the first pass over
-- the file, in file order. A newer request with the same key replaces an unanswered one.
local waiting = {}
-- The request each answer was matched with on the first pass, by the answer's frame number:
-- later passes (a click in the packet list) must not match again.
local matched = {}

function korvel.init()
  waiting = {}
  matched = {}
end

local function hex(value)
  return string.format("0x%02X", value)
end

local function instruction_text(code)
  return INSTRUCTIONS[code] or hex(code)
end

local function key(address, sig)
  return address * 256 + sig
end

-- The request an answer answers, taken out of the waiting ones on the first pass and
-- remembered for the later ones; nil when none was seen.
local function request_of(pinfo, address, sig)
  if pinfo.visited then
    return matched[pinfo.number]
  end
  local request = waiting[key(address, sig)] or waiting[key(BROADCAST, sig)]
  if request then
    waiting[key(request.address, sig)] = nil
    matched[pinfo.number] = request
  end
  return request
end

local function checksum_of(tvb, count)
  local sum = 0
  for i = 0, count - 1 do
    sum = sum + tvb(i, 1):uint()
  end
  return 0xFF - sum % 256
end

local function direction_of(pinfo)
  if pinfo.p2p_dir == P2P_DIR_SENT then return DIRECTION_TO_DISPLAY end
  if pinfo.p2p_dir == P2P_DIR_RECV then return DIRECTION_FROM_DISPLAY end
  return nil
end

-- Why bytes are no packet, for the expert info.
local function noise_reason(tvb)
  local size = tvb:len()
  if size >= 4 and tvb(0, 1):uint() == PREFIX and tvb(1, 1):uint() == FORMAT then
    return string.format("starts like a packet of %d bytes but has %d", tvb(2, 2):uint() + 4,
                         size)
  end
  return string.format("%d byte(s) that do not start a packet", size)
end

local function dissect_noise(tvb, pinfo, tree, direction)
  local subtree = tree:add(korvel, tvb(), "Korvel: not a packet")
  if direction ~= nil then
    subtree:add(f.direction, direction):set_generated()
  end
  subtree:add(f.noise, tvb())
  subtree:add_proto_expert_info(e.noise, "Not a Korvel packet: " .. noise_reason(tvb))
  pinfo.cols.info = string.format("Not a Korvel packet, %d byte(s)", tvb:len())
end

-- Whether the bytes are framed as one whole packet: its start, and as many bytes as its length
-- field says. Checksum and terminator may still be wrong: such a packet is shown as damaged.
local function is_framed(tvb)
  local size = tvb:len()
  return size >= SHORTEST and tvb(0, 1):uint() == PREFIX and tvb(1, 1):uint() == FORMAT and
         tvb(2, 2):uint() + 4 == size
end

-- Byte 6 by the direction: the instruction of a request, the acknowledge of an answer. Returns
-- the Info column's text for it.
local function dissect_code(tvb, pinfo, subtree, direction, address, sig)
  local code = tvb(6, 1):uint()
  local where = string.format("SIG %s %s %s", hex(sig),
                              ADDRESS_WORDS[direction] or "at", hex(address))
  if direction == DIRECTION_TO_DISPLAY then
    subtree:add(f.instruction, tvb(6, 1))
    subtree:add(f.instruction_name, instruction_text(code)):set_generated()
    if not pinfo.visited then
      waiting[key(address, sig)] = { instruction = code, frame = pinfo.number, address = address }
    end
    return string.format("Request %s %s", instruction_text(code), where)
  end
  if direction == nil then
    subtree:add(f.code, tvb(6, 1))
    return string.format("Packet %s %s", hex(code), where)
  end
  local meaning = acknowledge_meaning(code)
  local ack = subtree:add(f.acknowledge, tvb(6, 1))
  subtree:add(f.acknowledge_meaning, meaning):set_generated()
  if is_unsolicited(code) then
    return string.format("Unsolicited %s %s", hex(code), where)
  end
  if code ~= 0 then
    ack:add_proto_expert_info(e.refused, string.format("Request refused with acknowledge %s",
                                                       hex(code)))
  end
  local text = code == 0 and meaning or string.format("%s %s", meaning, hex(code))
  local request = request_of(pinfo, address, sig)
  if request == nil then
    subtree:add_proto_expert_info(e.unanswered)
    return string.format("Answer %s %s", text, where)
  end
  subtree:add(f.request_instruction, request.instruction):set_generated()
  subtree:add(f.request_frame, request.frame):set_generated()
  return string.format("Answer %s %s (%s)", text, where, instruction_text(request.instruction))
end

-- The checksum and terminator of a packet whose data ends at `data_end`; returns the notes for
-- the Info column ("" when both are right).
local function dissect_trailer(tvb, subtree, data_end)
  local notes = ""
  local expected = checksum_of(tvb, data_end)
  local received = tvb(data_end, 1):uint()
  local checksum = subtree:add(f.checksum, tvb(data_end, 1))
  local good = received == expected
  subtree:add(f.checksum_status, good and CHECKSUM_GOOD or CHECKSUM_BAD):set_generated()
  if not good then
    checksum:add_proto_expert_info(e.bad_checksum, string.format(
      "Bad checksum %s, expected %s", hex(received), hex(expected)))
    notes = notes .. " [bad checksum]"
  end
  local terminator = subtree:add(f.terminator, tvb(data_end + 1, 1))
  if tvb(data_end + 1, 1):uint() ~= TERMINATOR then
    terminator:add_proto_expert_info(e.bad_terminator, string.format(
      "Bad terminator %s, expected 0x0D", hex(tvb(data_end + 1, 1):uint())))
    notes = notes .. " [bad terminator]"
  end
  return notes
end

function korvel.dissector(tvb, pinfo, tree)
  pinfo.cols.protocol = "Korvel"
  local direction = direction_of(pinfo)
  if not is_framed(tvb) then
    dissect_noise(tvb, pinfo, tree, direction)
    return tvb:len()
  end

  local subtree = tree:add(korvel, tvb(), "Korvel packet")
  if direction ~= nil then
    subtree:add(f.direction, direction):set_generated()
  end
  subtree:add(f.prefix, tvb(0, 1))
  subtree:add(f.format, tvb(1, 1))
  subtree:add(f.length, tvb(2, 2))
  local address = tvb(4, 1):uint()
  local sig = tvb(5, 1):uint()
  subtree:add(f.address, tvb(4, 1))
  subtree:add(f.sig, tvb(5, 1))
  local info = dissect_code(tvb, pinfo, subtree, direction, address, sig)
  local data_end = tvb:len() - 2
  if data_end > HEADER_SIZE then
    subtree:add(f.data, tvb(HEADER_SIZE, data_end - HEADER_SIZE))
  end
  info = info .. dissect_trailer(tvb, subtree, data_end)
  subtree:append_text(": " .. info)
  pinfo.cols.info = info
  return tvb:len()
end

DissectorTable.get("wtap_encap"):add(wtap_encaps.USER0, korvel)
