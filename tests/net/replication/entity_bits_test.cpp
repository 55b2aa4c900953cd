// The entity record and every property encoding against the independent writer
// (tests/support/netbits.py, float32 arithmetic through numpy): the bytes match and
// decode to the same values.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <sstream>

#include "../NetTestSupport.h"
#include "engine/entity/MPProperty.h"
#include "net/packet/GamePacket.h"
#include "net/replication/EntityReplicationState.h"

namespace {

// numpy comes from Debian's interpreter.
std::vector<std::string> Netbits(const std::string& arguments) {
    std::vector<std::string> lines;
    const std::string command = "/usr/bin/python3 " PROJECT_SOURCE_ROOT "/tests/support/netbits.py " + arguments;
    FILE* p = popen(command.c_str(), "r");
    if (!p) return lines;
    char buffer[65536];
    std::string line;
    while (fgets(buffer, sizeof buffer, p)) {
        line += buffer;
        if (!line.empty() && line.back() == '\n') {
            line.pop_back();
            lines.push_back(line);
            line.clear();
        }
    }
    if (pclose(p) != 0) lines.clear();  // a reference that crashed or failed gives nothing
    return lines;
}

float F(const std::string& hex) {
    const std::vector<uint8_t> b = nettest::FromHex(hex);
    float f = 0;
    if (b.size() == 4) std::memcpy(&f, b.data(), 4);
    return f;
}

TEST(EntityBits, RecordsMatchTheIndependentWriter) {
    const std::vector<std::string> lines = Netbits("entities 500 20261208");
    ASSERT_EQ(lines.size(), 500u) << "/usr/bin/python3 tests/support/netbits.py failed";
    int n = 0;
    for (const std::string& text : lines) {
        ++n;
        std::istringstream in(text);
        std::string hex;
        uint64_t id, flags, slot, counter, parent, owned, dirty, snap, count;
        in >> hex >> id >> flags >> slot >> counter >> parent >> owned >> dirty >> snap >> count;
        EntityRecord r;
        r.multiplayerId = uint16_t(id);
        r.flags = uint8_t(flags);
        r.dictionarySlot = uint8_t(slot);
        r.creationCounter = uint8_t(counter);
        r.parentId = uint16_t(parent);
        r.ownedByReceiver = uint8_t(owned);
        r.dirtyMask = dirty;
        r.snapMask = snap;
        for (uint64_t i = 0; i < count; ++i) {
            uint64_t bits, value;
            in >> bits >> value;
            ASSERT_TRUE(r.fields.Append(value, uint32_t(bits))) << n;
        }
        static GamePacket p;
        p.Reset();
        p.BeginSection(SECTION_ENTITIES);
        ASSERT_TRUE(WriteEntityRecordWire(p, r)) << n;
        p.EndSection();
        std::vector<uint8_t> built(kMaxPacketBytes + BitWriter::kSlackBytes);
        built.resize(p.Build(built.data()));
        const std::vector<uint8_t> python = hex == "-" ? std::vector<uint8_t>() : nettest::FromHex(hex);
        const uint32_t bytes = (p.SectionBits(SECTION_ENTITIES) + 7) / 8;
        ASSERT_EQ(bytes, python.size()) << "case " << n << ": " << text.substr(0, 80);
        ASSERT_EQ(0, std::memcmp(built.data() + kPacketHeaderBytes, python.data(), bytes)) << "case " << n;
        // And the reader takes Python's bytes back to the record.
        BitReader reader(python.data(), uint32_t(python.size() * 8));
        EntityRecord back;
        ASSERT_TRUE(ReadEntityRecordWire(reader, back)) << n;
        EXPECT_EQ(back.multiplayerId, r.multiplayerId) << n;
        EXPECT_EQ(back.flags, r.flags & 15) << n;
        if (flags & ENTITYRECORD_PROPERTIES) {
            EXPECT_EQ(back.dirtyMask, r.dirtyMask) << n;
            uint32_t t = 0;
            for (uint32_t i = 0; i < r.fields.fieldCount; ++i)
                if (dirty >> i & 1) t += r.fields.bitLengths[i];
            EXPECT_EQ(back.fields.totalBits, t) << n;
        }
        if (flags & ENTITYRECORD_CREATE) {
            EXPECT_EQ(back.parentId, r.parentId) << n;
            EXPECT_EQ(back.creationCounter, r.creationCounter) << n;
        }
    }
}

TEST(EntityBits, PropertyFieldsMatchTheIndependentWriter) {
    SetMPReplicationBox(Vector(-100, -25, -100, 1), Vector(100, 200, 100, 1));
    const std::vector<std::string> lines = Netbits("props 500 20261208");
    ASSERT_EQ(lines.size(), 500u) << "/usr/bin/python3 tests/support/netbits.py (numpy) failed";
    int n = 0;
    for (const std::string& text : lines) {
        ++n;
        std::istringstream in(text);
        uint32_t kind, bits;
        uint64_t q;
        in >> kind >> bits >> q;
        std::vector<std::string> params, out;
        std::string w;
        while (in >> w && w != "|") params.push_back(w);
        while (in >> w) out.push_back(w);
        MPProperty p;
        p.kind = kind;
        p.bits = MPPropKindBits(kind);
        MPValue v;
        switch (kind) {
        case MPPROPTYPE_INT:
            p.intMin = std::stoi(params[0]);
            p.intMax = std::stoi(params[1]);
            p.bits = MPPropIntBits(p.intMin, p.intMax);
            v.i = std::stoi(params[2]);
            break;
        case MPPROPTYPE_FLOAT:
            p.floatMin = F(params[0]);
            p.floatMax = F(params[1]);
            p.floatStep = F(params[2]);
            v.f = F(params[3]);
            p.bits = bits;
            break;
        case MPPROPTYPE_FLOAT_POSY: v.f = F(params[0]); break;
        case MPPROPTYPE_FLOAT_ANIM_PROGRESS: v.f = F(params[0]); break;
        case MPPROPTYPE_VEC_ANGLEY: v.v = Vector(0, F(params[0]), 0, 1); break;
        case MPPROPTYPE_VEC_ANGLEXY: v.v = Vector(F(params[0]), F(params[1]), 0, 1); break;
        case MPPROPTYPE_VEC_SCALE:
        case MPPROPTYPE_VEC_POS: v.v = Vector(F(params[0]), F(params[1]), F(params[2]), 1); break;
        case MPPROPTYPE_VEC_POSXZ: v.v = Vector(F(params[0]), 0, F(params[1]), 1); break;
        case MPPROPTYPE_BOOL: v.b = uint8_t(std::stoi(params[0])); break;
        case MPPROPTYPE_ANIM:
            v.animIndex = uint8_t(std::stoi(params[0]));
            v.animLoop = uint8_t(std::stoi(params[1]));
            v.animProgress = F(params[2]);
            break;
        default: break;
        }
        if (kind == MPPROPTYPE_ENTITY) continue;  // an id; needs entities (the record test has them)
        ASSERT_EQ(p.bits, bits) << "case " << n << ": " << text;
        // The set rule normalises the angles first; so does the writer.
        if (kind == MPPROPTYPE_VEC_ANGLEXY && std::fabs(MPPropWrapAngle(v.v.x) - 180.0f) < 0.1f) v.v = Vector(v.v.x + 180.0f, 180.0f - v.v.y, 0, 1);
        EXPECT_EQ(MPPropEncode(p, v, nullptr), q) << "case " << n << ": " << text;
        MPValue d;
        MPPropDecode(p, q, d);
        switch (kind) {
        case MPPROPTYPE_INT: EXPECT_EQ(d.i, std::stoi(out[0])) << n; break;
        case MPPROPTYPE_FLOAT:
        case MPPROPTYPE_FLOAT_POSY:
        case MPPROPTYPE_FLOAT_ANIM_PROGRESS: EXPECT_EQ(d.f, F(out[0])) << n << " " << text; break;
        case MPPROPTYPE_VEC_ANGLEY: EXPECT_EQ(d.v.y, F(out[0])) << n; break;
        case MPPROPTYPE_VEC_ANGLEXY:
        case MPPROPTYPE_VEC_POSXZ:
            EXPECT_EQ(d.v.x, F(out[0])) << n;
            EXPECT_EQ(kind == MPPROPTYPE_VEC_POSXZ ? d.v.z : d.v.y, F(out[1])) << n;
            break;
        case MPPROPTYPE_VEC_SCALE:
        case MPPROPTYPE_VEC_POS:
            EXPECT_EQ(d.v.x, F(out[0])) << n;
            EXPECT_EQ(d.v.y, F(out[1])) << n;
            EXPECT_EQ(d.v.z, F(out[2])) << n;
            break;
        case MPPROPTYPE_BOOL: EXPECT_EQ(d.b, std::stoi(out[0])) << n; break;
        case MPPROPTYPE_ANIM:
            EXPECT_EQ(d.animIndex, std::stoi(out[0])) << n;
            EXPECT_EQ(d.animLoop, std::stoi(out[1])) << n;
            EXPECT_EQ(d.animProgress, F(out[2])) << n;
            break;
        default: break;
        }
    }
}

// The host keeps one record to build into: what it built before must not leak into the
// next record (fields, ids, create members), and a state given fewer fields than it held
// keeps none of the old ones.
TEST(EntityBits, RecordsBuiltIntoAUsedRecordEqualFreshOnes) {
    static EntityReplicationStates states;
    states.Reset();
    const auto apply = [](uint16_t id, uint8_t flags, uint32_t fieldCount, uint16_t parent) {
        EntityRecord r;
        r.multiplayerId = id;
        r.flags = flags;
        r.parentId = parent;
        r.ownerId = id % 2;
        r.templateGuid.bytes[0] = uint8_t(id);
        r.snapMask = 0x5;
        for (uint32_t i = 0; i < fieldCount; ++i) r.fields.Append(0xABCDEF0123ull * (i + id), 3 + 5 * i, uint16_t(i == 1 ? 900 + id : kNoMultiplayerId));
        r.dirtyMask = fieldCount ? (uint64_t(1) << fieldCount) - 1 : 0;
        ASSERT_TRUE(states.Apply(r));
    };
    apply(1, ENTITYRECORD_CREATE | ENTITYRECORD_PROPERTIES, 9, 7);
    apply(2, ENTITYRECORD_CREATE | ENTITYRECORD_PROPERTIES, 2, kNoMultiplayerId);
    apply(3, ENTITYRECORD_CREATE | ENTITYRECORD_PROPERTIES, 6, 1);
    apply(3, ENTITYRECORD_PROPERTIES, 1, kNoMultiplayerId);  // fewer fields than before
    apply(4, ENTITYRECORD_CREATE, 0, 2);
    apply(4, ENTITYRECORD_DESTROY, 0, kNoMultiplayerId);
    static GamePacket reusedPacket, freshPacket;
    EntityRecord reused;
    for (const uint16_t id : {1, 2, 3, 1, 4, 3, 2}) {
        for (const uint32_t acknowledged : {0u, 1u}) {
            EntityRecord fresh;
            states.BuildRecord(states[id], acknowledged, 1, reused);
            states.BuildRecord(states[id], acknowledged, 1, fresh);
            EXPECT_EQ(reused.multiplayerId, fresh.multiplayerId);
            EXPECT_EQ(reused.flags, fresh.flags) << id;
            EXPECT_EQ(reused.version, fresh.version) << id;
            EXPECT_EQ(reused.parentId, fresh.parentId) << id;
            EXPECT_TRUE(reused.templateGuid == fresh.templateGuid) << id;
            EXPECT_EQ(reused.dictionarySlot, fresh.dictionarySlot) << id;
            EXPECT_EQ(reused.dirtyMask, fresh.dirtyMask) << id;
            EXPECT_EQ(reused.snapMask, fresh.snapMask) << id;
            EXPECT_EQ(reused.ownerId, fresh.ownerId) << id;
            EXPECT_EQ(reused.ownedByReceiver, fresh.ownedByReceiver) << id;
            ASSERT_EQ(reused.fields.fieldCount, fresh.fields.fieldCount) << id;
            EXPECT_EQ(reused.fields.totalBits, fresh.fields.totalBits) << id;
            EXPECT_EQ(std::memcmp(reused.fields.bitLengths, fresh.fields.bitLengths, sizeof fresh.fields.bitLengths), 0) << id;
            EXPECT_EQ(std::memcmp(reused.fields.referencedIds, fresh.fields.referencedIds, sizeof fresh.fields.referencedIds), 0) << id;
            for (GamePacket* p : {&reusedPacket, &freshPacket}) {
                p->Reset();
                p->BeginSection(SECTION_ENTITIES);
            }
            ASSERT_TRUE(WriteEntityRecordWire(reusedPacket, reused));
            ASSERT_TRUE(WriteEntityRecordWire(freshPacket, fresh));
            std::vector<uint8_t> a(kMaxPacketBytes + BitWriter::kSlackBytes), b(a.size());
            a.resize(reusedPacket.Build(a.data()));
            b.resize(freshPacket.Build(b.data()));
            EXPECT_EQ(a, b) << id;
        }
    }
    EXPECT_EQ(states[3].fields.fieldCount, 1u);
    EXPECT_EQ(states[3].fields.referencedIds[1], kNoMultiplayerId) << "an id of the earlier, longer record";
}

}  // namespace
