// The gamer profile's life cycle and its cloud files.
//
// Save: the main thread serialises a data object into a new buffer and calls
// SaveDataAsync, which advances the file's process-wide stamp, counts the job as
// issued and posts it to the ResourceManager worker (command 5). The job payload
// carries the profile, tag, layout value, new stamp, data pointer and size, a heap
// copy of the profile name (pointers at native size) and the file name. On the worker,
// WriteDataJob reads both copies only to learn their stamps and writes the copy with
// the older stamp (equal stamps: the plain copy), then counts the job as completed.
//
// Load: LoadData (main thread) first waits until every issued job completed, then
// reads both copies and hands out the one with the greater stamp.
#include "net/online/GamerProfile.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "core/BoundedReader.h"
#include "core/CRC32.h"
#include "core/Log.h"
#include "core/rtti/RTTIClass.h"
#include "platform/online/Online.h"
#include "platform/os/Thread.h"
#include "render/VornexRenderer.h"
#include "render/resources/ResourceManager.h"

namespace {

RTTIClass* gGamerProfileClass = nullptr;

// Process-wide save state: one copy for all profiles.
std::atomic<uint32_t> gWriteJobsIssued{0};
std::atomic<uint32_t> gWriteJobsCompleted{0};
uint32_t gProgressStamp = 0;
uint32_t gResultsStamp = 0;

// The poll interval of the wait for pending writes, in milliseconds.
constexpr uint32_t kWritePollMs = 5;

// A stored name fills at most kCloudFileNameBytes with its terminator; its twin adds ".alt".
constexpr uint32_t kAltNameBytes = kCloudFileNameBytes + 4;

void AltName(char (&out)[kAltNameBytes], const char* fileName) {
    std::snprintf(out, sizeof out, "%s.alt", fileName);
}

void StoreU32(uint8_t* at, uint32_t v) {
    at[0] = static_cast<uint8_t>(v);
    at[1] = static_cast<uint8_t>(v >> 8);
    at[2] = static_cast<uint8_t>(v >> 16);
    at[3] = static_cast<uint8_t>(v >> 24);
}

uint32_t LoadU32(const uint8_t* at) {
    return static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8 | static_cast<uint32_t>(at[2]) << 16 |
           static_cast<uint32_t>(at[3]) << 24;
}

template <class T>
void Put(uint8_t*& at, const T& v) {
    std::memcpy(at, &v, sizeof v);
    at += sizeof v;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Class and life cycle

GamerProfile::GamerProfile(online::OnlineContext* services) : services(services) {}

GamerProfile::~GamerProfile() { WaitForPendingWrites(); }

const RTTIClass* GamerProfile::RegisterClass() {
    if (gGamerProfileClass) return gGamerProfileClass;
    return CreateRegisteredClass(gGamerProfileClass, "GamerProfile", kRTTIRootBaseName);
}

const RTTIClass* GamerProfile::GetRTTIClass() const { return RegisterClass(); }

bool GamerProfile::Login(const char* name, uint32_t) {
    if (loggedIn) return false;
    loggedIn = 1;
    profileName = name;
    ResetData();
    return true;
}

bool GamerProfile::HasPendingWork() const { return WritePending(); }

bool GamerProfile::WritePending() {
    return gWriteJobsIssued.load(std::memory_order_acquire) != gWriteJobsCompleted.load(std::memory_order_acquire);
}

void GamerProfile::WaitForPendingWrites() {
    if (!WritePending()) return;
    gVornexRenderer.FlushCommands(false);
    while (WritePending()) os::Sleep(kWritePollMs);
}

uint32_t& GamerProfile::ProgressStamp() { return gProgressStamp; }
uint32_t& GamerProfile::ResultsStamp() { return gResultsStamp; }

void GamerProfile::ResetProcessState() {
    WaitForPendingWrites();
    gWriteJobsIssued = 0;
    gWriteJobsCompleted = 0;
    gProgressStamp = 0;
    gResultsStamp = 0;
}

// ---------------------------------------------------------------------------------------
// Cloud copies

void GamerProfile::WriteCloudFile(const char*, const char*, uint32_t, uint32_t, uint32_t, const uint8_t*, uint32_t) {}

bool GamerProfile::ReadCloudFile(const char*, const char*, uint32_t, uint32_t, uint8_t**, uint32_t*, uint32_t*) {
    return false;
}

void SteamGamerProfile::WriteCloudFile(const char*, const char* fileName, uint32_t tag, uint32_t layout, uint32_t stamp,
                                       const uint8_t* data, uint32_t size) {
    if (!services || size > online::kMaxCloudFile - kCloudFileOverheadBytes) {
        gLog.Warning(LogCategory::Engine, "Cloud file %s could not be written", fileName);
        return;
    }
    std::unique_ptr<uint8_t[]> file(new uint8_t[size + kCloudFileOverheadBytes]);
    StoreU32(file.get(), tag);
    StoreU32(file.get() + 4, layout);
    StoreU32(file.get() + 8, stamp);
    if (size) std::memcpy(file.get() + kCloudFileHeaderBytes, data, size);
    StoreU32(file.get() + kCloudFileHeaderBytes + size, CRC32::GetDefault().Compute(data, size));
    // The stamp advances even when the write fails: the alternation must never choose
    // the newer copy as the next target.
    if (!services->RemoteStorage()->FileWrite(fileName, file.get(), static_cast<int32_t>(size + kCloudFileOverheadBytes)))
        gLog.Warning(LogCategory::Engine, "Cloud file %s could not be written", fileName);
}

bool SteamGamerProfile::ReadCloudFile(const char*, const char* fileName, uint32_t tag, uint32_t layout, uint8_t** data,
                                      uint32_t* size, uint32_t* stamp) {
    if (!services) return false;
    online::OnlineRemoteStorage* storage = services->RemoteStorage();
    if (!storage->FileExists(fileName)) return false;
    const int32_t fileSize = storage->GetFileSize(fileName);
    if (fileSize < static_cast<int32_t>(kCloudFileOverheadBytes) || static_cast<uint32_t>(fileSize) > online::kMaxCloudFile)
        return false;
    std::unique_ptr<uint8_t[]> file(new uint8_t[static_cast<uint32_t>(fileSize)]);
    if (storage->FileRead(fileName, file.get(), fileSize) != fileSize) return false;
    if (stamp) *stamp = LoadU32(file.get() + 8);
    if (LoadU32(file.get()) != tag || LoadU32(file.get() + 4) != layout) return false;
    const uint32_t payloadSize = static_cast<uint32_t>(fileSize) - kCloudFileOverheadBytes;
    const uint8_t* payload = file.get() + kCloudFileHeaderBytes;
    if (!CRC32::GetDefault().Verify(payload, payloadSize, LoadU32(payload + payloadSize))) return false;
    uint8_t* copy = nullptr;
    if (payloadSize) {
        copy = new uint8_t[payloadSize];
        std::memcpy(copy, payload, payloadSize);
    }
    if (data) *data = copy; else delete[] copy;
    if (size) *size = payloadSize;
    return true;
}

// ---------------------------------------------------------------------------------------
// Loading (main thread)

bool GamerProfile::ReadUsableCopy(const char* profile, const char* fileName, uint32_t tag, uint32_t layout,
                                  uint8_t** data, uint32_t* size, uint32_t* stamp) {
    uint8_t* payload = nullptr;
    uint32_t payloadSize = 0;
    uint32_t s = 0;
    *stamp = 0;
    if (!ReadCloudFile(profile, fileName, tag, layout, &payload, &payloadSize, &s)) return false;
    if (payloadCheck && !payloadCheck(tag, payload, payloadSize)) {
        delete[] payload;
        return false;
    }
    *stamp = s;
    if (data) *data = payload; else delete[] payload;
    if (size) *size = payloadSize;
    return true;
}

bool GamerProfile::LoadData(const char* fileName, uint32_t tag, uint32_t layout, uint8_t** data, uint32_t* size,
                            uint32_t* stamp) {
    WaitForPendingWrites();
    char altName[kAltNameBytes];
    AltName(altName, fileName);
    const char* profile = profileName.Raw();

    struct Copy {
        uint8_t* data = nullptr;
        uint32_t size = 0;
        uint32_t stamp = 0;
        ~Copy() { delete[] data; }
    } plain, alt;
    ReadUsableCopy(profile, fileName, tag, layout, &plain.data, &plain.size, &plain.stamp);
    ReadUsableCopy(profile, altName, tag, layout, &alt.data, &alt.size, &alt.stamp);

    Copy* chosen = nullptr;
    const char* chosenName = nullptr;
    if (plain.stamp > alt.stamp) {
        chosen = &plain;
        chosenName = fileName;
    } else if (alt.stamp != 0) {
        chosen = &alt;
        chosenName = altName;
    } else {
        return false;
    }
    gLog.Print(LogSeverity::Information, LogCategory::Engine, "Loaded from %s (%d vs %d)", chosenName,
               static_cast<int>(plain.stamp), static_cast<int>(alt.stamp));
    if (data) {
        *data = chosen->data;
        chosen->data = nullptr;
    }
    if (size) *size = chosen->size;
    if (stamp) *stamp = chosen->stamp;
    return true;
}

// ---------------------------------------------------------------------------------------
// Saving

void GamerProfile::SaveDataAsync(const char* fileName, uint32_t tag, uint32_t layout, uint8_t* data, uint32_t size,
                                 uint32_t& stamp) {
    if (!size) {
        delete[] data;
        return;
    }
    ++stamp;
    gWriteJobsIssued.fetch_add(1, std::memory_order_acq_rel);
    const uint32_t nameLength = static_cast<uint32_t>(std::strlen(fileName));
    GamerProfile* self = this;
    NameString* nameCopy = new NameString(profileName);
    uint8_t payload[sizeof(void*) * 3 + 4 * 5 + kCloudFileNameBytes];
    const uint32_t storedLength = nameLength < kCloudFileNameBytes - 5 ? nameLength : kCloudFileNameBytes - 5;
    uint8_t* at = payload;
    Put(at, self);
    Put(at, tag);
    Put(at, layout);
    Put(at, stamp);
    Put(at, data);
    Put(at, size);
    Put(at, nameCopy);
    Put(at, storedLength);
    std::memcpy(at, fileName, storedLength);
    at += storedLength;
    BaseThread::PostCallOrRunInline(&gResourceManager, &GamerProfile::RunWriteJob, nullptr, payload,
                                    static_cast<uint32_t>(at - payload));
}

void GamerProfile::RunWriteJob(void* argument, const uint8_t* payload, uint32_t bytes) {
    BoundedReader in(payload, bytes);
    GamerProfile* profile = nullptr;
    if (!in.Read(&profile, sizeof profile) || !profile) return;
    profile->WriteDataJob(reinterpret_cast<uintptr_t>(argument), in);
}

void GamerProfile::WriteDataJob(uintptr_t argument, BoundedReader& in) {
    if (argument != 0) return;
    uint32_t tag = 0, layout = 0, newStamp = 0, size = 0, nameLength = 0;
    uint8_t* data = nullptr;
    NameString* nameCopy = nullptr;
    in.ReadU32(tag);
    in.ReadU32(layout);
    in.ReadU32(newStamp);
    in.Read(&data, sizeof data);
    in.ReadU32(size);
    in.Read(&nameCopy, sizeof nameCopy);
    in.ReadU32(nameLength);
    char fileName[kCloudFileNameBytes] = {};
    if (nameLength < kCloudFileNameBytes - 4) in.Read(fileName, nameLength);
    if (!in.Failed() && fileName[0]) {
        char altName[kAltNameBytes];
        AltName(altName, fileName);
        const char* profile = nameCopy ? nameCopy->Raw() : nullptr;
        uint32_t plainStamp = 0, altStamp = 0;
        // A copy that cannot be read whole counts 0, as when loading: the alternation
        // then never overwrites the copy a load would pick.
        ReadUsableCopy(profile, fileName, tag, layout, nullptr, nullptr, &plainStamp);
        ReadUsableCopy(profile, altName, tag, layout, nullptr, nullptr, &altStamp);
        const char* target = altStamp < plainStamp ? altName : fileName;
        gLog.Print(LogSeverity::Information, LogCategory::Engine, "Storing data to %s (%d vs %d) - new stamp: %d", target,
                   static_cast<int>(plainStamp), static_cast<int>(altStamp), static_cast<int>(newStamp));
        WriteCloudFile(profile, target, tag, layout, newStamp, data, size);
    }
    delete nameCopy;
    delete[] data;
    gWriteJobsCompleted.fetch_add(1, std::memory_order_acq_rel);
}
