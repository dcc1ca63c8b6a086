-- wrk script for one page under load: the request comes from the
-- environment, every answer is checked (2xx status, complete body, no error
-- block), and the run ends by printing one JSON line with the counts and the
-- latency's median and 99th percentile.
--   KV_WRK_METHOD  GET or POST          KV_WRK_BODY    the posted form
--   KV_WRK_COOKIE  the login cookie     KV_WRK_ENDS    how a complete body ends
--   KV_WRK_REFUSE  text no good page holds (a tool's error block), or empty

wrk.method = os.getenv("KV_WRK_METHOD") or "GET"
local body = os.getenv("KV_WRK_BODY") or ""
if body ~= "" then
   wrk.body = body
   wrk.headers["Content-Type"] = "application/x-www-form-urlencoded"
end
local cookie = os.getenv("KV_WRK_COOKIE") or ""
if cookie ~= "" then wrk.headers["Cookie"] = cookie end
local ends = os.getenv("KV_WRK_ENDS") or ""
local refuse = os.getenv("KV_WRK_REFUSE") or ""

local threads = {}

function setup(thread)
   table.insert(threads, thread)
end

function init(args)
   answers, not_2xx, incomplete, refused, first_bad = 0, 0, 0, 0, ""
end

function response(status, headers, text)
   answers = answers + 1
   local bad = nil
   if status < 200 or status > 299 then
      not_2xx = not_2xx + 1
      bad = "status " .. status
   elseif text:sub(-#ends) ~= ends then
      incomplete = incomplete + 1
      bad = "a body of " .. #text .. " bytes that ends with: " .. text:sub(-40)
   else
      local at = refuse ~= "" and text:find(refuse, 1, true)
      if at then
         refused = refused + 1
         bad = "a page that holds: " .. text:sub(at, at + 120)
      end
   end
   if bad and first_bad == "" then first_bad = bad end
end

-- A text as a JSON string: quotes, backslashes and control bytes escaped.
local function json_string(text)
   return '"' .. text:gsub('[%c"\\]', function(c) return string.format("\\u%04x", c:byte()) end) .. '"'
end

function done(summary, latency, requests)
   local counts = { answers = 0, not_2xx = 0, incomplete = 0, refused = 0 }
   local first_bad = ""
   for _, thread in ipairs(threads) do
      for name, _ in pairs(counts) do counts[name] = counts[name] + thread:get(name) end
      if first_bad == "" then first_bad = thread:get("first_bad") end
   end
   local e = summary.errors
   io.write(string.format(
      '{"requests":%d,"duration_us":%d,"answers":%d,"not_2xx":%d,"incomplete":%d,"refused":%d,"first_bad":%s,'
         .. '"errors":{"connect":%d,"read":%d,"write":%d,"status":%d,"timeout":%d},"median_us":%d,"p99_us":%d}\n',
      summary.requests, summary.duration, counts.answers, counts.not_2xx, counts.incomplete, counts.refused,
      json_string(first_bad),
      e.connect, e.read, e.write, e.status, e.timeout, latency:percentile(50), latency:percentile(99)))
end
