#pragma once
// Template files: how templates reach the registry and how a template reads its data.
//
//   ".template"          first line: <TemplateStub GUID="..." Type="n" ...> (only the first
//                        128 bytes are read, cut after the first line feed)
//   "TemplateInfo.Bin"   u32 N; N x (u32 S, S bytes: EntityTemplateStub property list);
//                        the root folder record: u32 L, L name bytes (with NUL), u32 K,
//                        K x 16-byte GUID, u32 M, M folder records
//   ".opt"               u32 version (at least 50), u32 T, T binary templates
//   ".BinaryTemplate"    16-byte GUID, u32 type id, u32 P + P bytes of property list,
//                        then the kind's data (ReadBinaryData, version 50)
// All integers little-endian. Every reader is bounded: counts and lengths are checked
// against the bytes left before anything is allocated, and a truncated or corrupt input
// fails with one log line.
//
// Threads: the catalogue, header and optimized-file readers run on the main thread; the
// binary template reader runs where the template loads (usually the ResourceManager
// thread). The registry lock guards the registry throughout.
#include <cstddef>
#include <cstdint>

class BoundedReader;
class EntityTemplate;
class EntityTemplateRegistry;
class EntityTemplateStub;

constexpr uint32_t kTemplateHeaderBytes = 128;
constexpr uint32_t kMinOptimizedVersion = 50;
constexpr uint32_t kMaxTemplateFolderDepth = 64;

// The header line of a ".template" file (at most 128 bytes are looked at, cut after the
// first line feed) into the stub's GUID and type id; false when it is no XML, has no
// TemplateStub element or lacks either attribute.
bool ParseTemplateStubHeader(const char* text, size_t length, EntityTemplateStub* stub);
// Opens fileName".template" in directory; on success the stub also keeps the file name.
bool ReadTemplateStubHeader(EntityTemplateStub* stub, const char* fileName, const char* directory);

// The catalogue into the registry: new stubs in the GUID index (sorted; a duplicate GUID
// is logged and dropped) and the folder tree (a GUID naming no stub is skipped; a stub no
// folder names goes into the root). False on a truncated or corrupt catalogue; what was
// read before the fault stays registered.
bool ReadTemplateInfo(BoundedReader& in, EntityTemplateRegistry& registry);
// "Templates/TemplateInfo.Bin"; false (nothing changed) when it cannot be opened.
bool ReadTemplateInfoFile(EntityTemplateRegistry& registry);

// One binary template (GUID, type id, property list, kind data) into t.
bool ReadBinaryTemplate(BoundedReader& in, EntityTemplate* t);
// The head of an optimized file: version and template count (bounded by the bytes left).
// A version below 50 logs "Wrong opt file version %s" with the scene name.
bool ReadOptimizedHeader(BoundedReader& in, const char* sceneName, uint32_t* count);

// The scene's optimized templates (sceneName".opt" in directory): one batch through the
// ResourceManager, read in file order, then entered in the registry.
void LoadOptimizedTemplates(const char* sceneName, const char* directory);
