#pragma once
// Control exports of the stand-in database back end, for the tests that load
// it as "DB.dll". Every export is __stdcall under its bare name.
#include <cstdint>

namespace standin {

// Forgets every domain, account, setting and log entry.
using ResetProc = void(__stdcall*)();
// Adds domains and accounts from lines of "|"-separated fields:
//   domain|name
//   account|domain|aliases|mailbox|password
// Answers the number of lines applied, or -1 at the first malformed line.
using LoadFixtureProc = std::int32_t(__stdcall*)(const char* text);
// Makes the named entry point answer its failure value; null or "" clears all.
using FailCallProc = void(__stdcall*)(const char* name);
// Makes the named entry point raise: kind 1 a custom exception
// (CustomExceptionCode), kind 2 an access violation, 0 nothing.
using RaiseInCallProc = void(__stdcall*)(const char* name, std::int32_t kind);
// Copies the call log ("Name ThreadId" lines, oldest first) into buffer,
// zero-terminated and cut to size; answers the full length.
using CallLogProc = std::int32_t(__stdcall*)(char* buffer, std::int32_t size);
// StandinLocalUserAddresses has the same shape: the address texts
// DBGetLocalUser received, one a line, as they came.

// Highest number of entry point calls in flight at once since the reset.
using MaxConcurrentCallsProc = std::int32_t(__stdcall*)();
// Every entry point call but DBDoneConnection waits this long (milliseconds)
// while counted in flight.
using SetCallDelayProc = void(__stdcall*)(std::int32_t milliseconds);
// Copies the last connection text as CallLog does.
using ConnectionProc = std::int32_t(__stdcall*)(char* buffer, std::int32_t size);

constexpr std::uint32_t CustomExceptionCode = 0xE0DB0001u;
constexpr std::int32_t RaiseNothing = 0;
constexpr std::int32_t RaiseCustom = 1;
constexpr std::int32_t RaiseAccessViolation = 2;

}  // namespace standin
