#pragma once
// A results document as the writer lays one out for a small finished job: a task with common
// setup, a testcase with steps and a plugin, plus a job-level plugin.
#include <string_view>

namespace morvi::reporter::schema::testing {

inline constexpr std::string_view kSampleDocument = R"json({"version": "3.4", "report": {
 "job_type": "local", "type": "TrialKit", "id": "nightly", "fullid": "nightly",
 "idlist": ["nightly"], "name": "nightly",
 "starttime": "2024-05-01 10:00:00.250000+02:00", "stoptime": "2024-05-01 10:05:00+02:00",
 "runtime": 299.75, "cli": "morvi run job.py", "host": "lab-7",
 "summary": {"passed": 0, "passx": 0, "failed": 1, "errored": 0, "aborted": 0, "blocked": 0,
             "skipped": 0, "total": 1, "success_rate": 0.0},
 "pluginsummary": {"passed": 1, "passx": 0, "failed": 0, "errored": 0, "aborted": 0,
                   "blocked": 0, "skipped": 0, "total": 1, "success_rate": 100.0},
 "result": {"value": "failed"}, "totaltasks": 1,
 "tasks": [
  {"type": "Task", "id": "t1", "fullid": "t1", "idlist": ["t1"], "name": "t1",
   "starttime": "2024-05-01 10:00:01", "stoptime": "2024-05-01 10:04:59",
   "runtime": 298.0, "description": "", "logfile": "t1.log", "testscript": "/jobs/t1.py",
   "parameters": {"vlan": 10},
   "summary": {"passed": 1, "passx": 0, "failed": 1, "errored": 0, "aborted": 0, "blocked": 0,
               "skipped": 0, "total": 2, "success_rate": 50.0},
   "pluginsummary": {"passed": 1, "passx": 0, "failed": 0, "errored": 0, "aborted": 0,
                     "blocked": 0, "skipped": 0, "total": 1, "success_rate": 100.0},
   "result": {"value": "failed", "reason": "step 2 failed", "data": {"retries": 1}},
   "extra": {"owner": {"team": "core", "ids": [1, null, 2.5]}, "ratio": NaN},
   "sections": [
    {"type": "Plugin", "id": "probe", "fullid": "t1.probe", "idlist": ["t1", "probe"],
     "name": "probe", "starttime": "2024-05-01 10:00:01", "stoptime": "2024-05-01 10:00:02",
     "runtime": 1.0, "logfile": "probe.log", "logs": {"file": "probe.log", "begin": 100, "size": 50},
     "result": {"value": "passed"}},
    {"type": "CommonSetup", "id": "common_setup", "fullid": "t1.common_setup",
     "idlist": ["t1", "common_setup"], "name": "common_setup",
     "starttime": "2024-05-01 10:00:02", "stoptime": "2024-05-01 10:00:03.005000",
     "runtime": 1.005, "result": {"value": "passed"}, "health_result": {"value": "passed"},
     "health_summary": {"passed": 0, "passx": 0, "failed": 0, "errored": 0, "aborted": 0,
                        "blocked": 0, "skipped": 0, "total": 0, "success_rate": 0.0}},
    {"type": "Testcase", "id": 7, "fullid": "t1.7", "idlist": ["t1", 7], "name": "ping",
     "starttime": "2024-05-01 10:00:03", "runtime": 0, "details": ["retried once", {"n": 1}],
     "result": {"value": "failed"},
     "sections": [
      {"type": "Step", "id": {"step": 1}, "fullid": "t1.7.{'step': 1}",
       "idlist": ["t1", 7, {"step": 1}], "name": "first", "result": {"value": "passed"}},
      {"type": "Step", "idlist": ["t1", 7, null], "result": {"value": "failed"},
       "extra": {"health": [{"result": "failed"}]}}]}]},
  {"type": "Plugin", "id": "archiver", "fullid": "archiver", "idlist": ["archiver"],
   "name": "archiver", "starttime": "2024-05-01 10:04:59",
   "summary": {"passed": 0, "passx": 0, "failed": 0, "errored": 0, "aborted": 0, "blocked": 0,
               "skipped": 0, "none": 0, "total": 0, "success_rate": 0.0},
   "result": {"value": "passed"}}]}})json";

}  // namespace morvi::reporter::schema::testing
