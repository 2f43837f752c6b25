#pragma once
// The library's exported functions: stdcall, undecorated names, ordinals from Api.def.
#include <cstdint>

#define API_EXPORT extern "C" __attribute__((stdcall))

API_EXPORT std::int32_t Init(const char* path);
API_EXPORT void Done();
API_EXPORT void SaveConfig();
API_EXPORT void UpdateConfiguration();
API_EXPORT std::int32_t ReloadServices();
API_EXPORT std::int32_t SetBufferDate(void* buffer, std::int32_t bufLen, std::int32_t year, std::int32_t month,
                                      std::int32_t day);
API_EXPORT std::int32_t SetBufferTime(void* buffer, std::int32_t bufLen, std::int32_t hour, std::int32_t minute,
                                      std::int32_t second, std::int32_t msec);
API_EXPORT std::int32_t GetBufferDate(const void* buffer, std::int32_t bufLen, std::int32_t* year, std::int32_t* month,
                                      std::int32_t* day);
API_EXPORT std::int32_t GetBufferTime(const void* buffer, std::int32_t bufLen, std::int32_t* hour, std::int32_t* minute,
                                      std::int32_t* second, std::int32_t* msec);
API_EXPORT std::int32_t GetConfigSetting(std::int32_t id, void* buffer, std::int32_t bufLen);
API_EXPORT std::int32_t SetConfigSetting(std::int32_t id, const void* buffer, std::int32_t bufLen);
API_EXPORT std::int32_t GetUserSetting(const void* record, std::int32_t recordLen, std::int32_t id, void* value,
                                       std::int32_t valueLen);
API_EXPORT std::int32_t SetUserSetting(void* record, std::int32_t recordLen, std::int32_t id, const void* value,
                                       std::int32_t valueLen);
API_EXPORT std::int32_t GetDomainSetting(const void* record, std::int32_t recordLen, std::int32_t id, void* value,
                                         std::int32_t valueLen);
API_EXPORT std::int32_t SetDomainSetting(void* record, std::int32_t recordLen, std::int32_t id, const void* value,
                                         std::int32_t valueLen);
API_EXPORT std::int32_t GetRASetting(const void* record, std::int32_t recordLen, std::int32_t id, void* value,
                                     std::int32_t valueLen);
API_EXPORT std::int32_t SetRASetting(void* record, std::int32_t recordLen, std::int32_t id, const void* value,
                                     std::int32_t valueLen);
