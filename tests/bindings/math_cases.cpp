// test-sanitize: address
// Vector through the maths package: the forms of each name, the binding arithmetic, the
// constants as copies, the index rule and the float boundary.
#include <cmath>
#include <cstdio>
#include <fstream>
#include <limits>
#include <random>
#include <sstream>
#include <vector>

#include "BindingsFixture.h"
#include "core/math/Quaternion.h"
#include "core/math/Vector.h"

namespace {

class MathPackageTest : public BindingsTest {
protected:
    // The Quaternion the expression gives (scripts see no components), or NaNs.
    Quaternion QuaternionOf(const std::string& expression) {
        const float nan = std::numeric_limits<float>::quiet_NaN();
        Quaternion q(nan, nan, nan, nan);
        const std::string code = "return " + expression;
        if (luaL_loadstring(L(), code.c_str()) != 0 || lua_pcall(L(), 0, 1, 0) != 0) {
            ADD_FAILURE() << expression << ": " << lua_tostring(L(), -1);
        } else if (lua_type(L(), -1) == LUA_TUSERDATA) {
            q = **static_cast<Quaternion**>(lua_touserdata(L(), -1));
        }
        lua_pop(L(), 1);
        return q;
    }
};

std::string Text(const Quaternion& q) {
    char text[96];
    std::snprintf(text, sizeof text, "%.6g %.6g %.6g %.6g", q.x, q.y, q.z, q.w);
    return text;
}

constexpr const char* kXYZW = " return v.x, v.y, v.z, v.w";

TEST_F(MathPackageTest, VectorFormsAndArithmetic) {
    struct Case {
        const char* chunk;
        const char* values;
    };
    const Case kCases[] = {
        {"local v = Vector:Instance()", "0 0 0 0"},  // zeroed
        {"local v = Vector:Instance(1, 2, 3)", "1 2 3 1"},
        {"local v = Vector:Instance(1, 2, 3, 4)", "1 2 3 4"},
        {"local v = Vector:Instance(Vector:Instance(5, 6, 7, 8))", "5 6 7 8"},
        {"local v = Vector:Instance(9, 9, 9, 9) v:Set3(1, 2, 3)", "1 2 3 1"},
        {"local v = Vector:Instance() v:Set(Vector.UNITZW)", "0 0 1 1"},
        {"local v = Vector:Instance(1, 2, 3, 4) v:Mul(2)", "2 4 6 8"},
        {"local v = Vector:Instance(1, 2, 3, 4) v:Mul('x')", "0 0 0 0"},  // a non-number reads as 0
        {"local v = Vector:Instance(1, 2, 3, 4) v:Mul(Vector:Instance(2, 2, 0.5, -1))", "2 4 1.5 -4"},
        {"local v = Vector:Instance() v:Mul(Vector.HALF, 4)", "2 2 2 2"},
        {"local v = Vector:Instance() v:Mul(Vector:Instance(1, 2, 3, 4), Vector:Instance(2, 3, 4, 5))", "2 6 12 20"},
        {"local v = Vector:Instance(2, 4, 6, 8) v:Div(2)", "1 2 3 4"},
        {"local v = Vector:Instance(2, 4, 6, 8) v:Div(Vector:Instance(2, 4, 3, 8))", "1 1 2 1"},
        {"local v = Vector:Instance(1, 1, 1, 1) v:MulAdd(Vector:Instance(1, 2, 3, 4), 2)", "3 5 7 9"},
        {"local v = Vector:Instance() v:MulAdd(Vector.ONE, Vector:Instance(1, 2, 3, 4), 2)", "3 5 7 9"},
        {"local v = Vector:Instance(1, 1, 1, 1) v:MulAdd(Vector:Instance(1, 2, 3, 4), Vector:Instance(2, 2, 2, 2))",
         "3 5 7 9"},
        {"local v = Vector:Instance() v:MulAdd(Vector.ONE, Vector:Instance(1, 2, 3, 4), Vector.HALF)", "1.5 2 2.5 3"},
        {"local v = Vector:Instance() v:Lerp(Vector.ZERO4, Vector:Instance(2, 4, 6, 8), Vector:Instance(0.5, 1, 0, 0.25))",
         "1 4 0 2"},
        {"local v = Vector:Instance(1, -2, 3, -4) v:NegateXYZ()", "-1 2 -3 -4"},
        {"local v = Vector:Instance(1, -2, 3, -4) v:Negate()", "-1 2 -3 4"},
        {"local v = Vector:Instance(5, -5, 0, 9) v:Clamp(Vector:Instance(-1, -1, -1, -1), Vector.ONE)", "1 -1 0 1"},
        {"local v = Vector:Instance(1, -2, 3, -4) v:Min(Vector.ZERO4)", "0 -2 0 -4"},
        {"local v = Vector:Instance(1, 0, 0, 0) v:Cross(Vector.UNITY)", "0 0 1 0"},
        {"local v = Vector:Instance(3, 4, 0, 9) return v:Length(), v:Length2(), v:Dot4(Vector.ONE)", "5 25 16"},
        {"return Vector:Instance(0, 5, 0, 0):DistanceXZ(Vector:Instance(3, 0, 4, 0)), "
         "Vector:Instance(0, 5, 0, 0):Distance2XZ(Vector:Instance(3, 0, 4, 0))",
         "5 25"},
        {"return Vector:Instance(1, 2, 3, 4):Equal(Vector:Instance(1, 2, 3, 5)), "
         "Vector:Instance(1, 2, 3, 4):Equal(Vector:Instance(1, 2, 3, 4))",
         "false true"},
        // Normalize divides all four by the 3-D length; a zero 3-D length stays as it is.
        {"local v = Vector:Instance(3, 0, 4, 10) v:Normalize()", "0.600000024 0 0.800000012 2"},
        {"local v = Vector:Instance(0, 0, 0, 7) v:Normalize()", "0 0 0 7"},
        {"local v = Vector:Instance(0, 0, 0, 7) v:NormalizeEst()", "0 0 0 7"},
        {"local v = Vector:Instance(3, 0, 4, 10) v:NormalizeEst()", "0.600000024 0 0.800000012 2"},
        // The index reads and writes components 0..3 and nothing else.
        {"local v = Vector:Instance(1, 2, 3, 4) return v[0], v[3], tostring(v[4]), tostring(v[-1]), tostring(v[1e30])", "1 4 nil nil nil"},
        {"local v = Vector:Instance(1, 2, 3, 4) v[1] = 9 v[4] = 7 v[-1] = 7", "1 9 3 4"},
        // Numbers cross as floats.
        {"local v = Vector:Instance(16777217, 0.1, 0, 0)", "16777216 0.100000001 0 0"},
    };
    for (const Case& c : kCases) {
        std::string chunk = c.chunk;
        if (chunk.find("return") == std::string::npos) chunk += kXYZW;
        EXPECT_EQ(Values(chunk), c.values) << c.chunk;
    }
}

TEST_F(MathPackageTest, ConstantsAreCopiesThatScriptsCannotReplace) {
    EXPECT_EQ(Values("local v = Vector.ZERO4 v:Set(1, 2, 3, 4)" + std::string(kXYZW)), "1 2 3 4");
    EXPECT_EQ(Values("local v = Vector.ZERO4" + std::string(kXYZW)), "0 0 0 0") << "the next read is zero again";
    EXPECT_EQ(Vector::ZERO4, Vector(0, 0, 0, 0));
    EXPECT_NE(Values("Vector.ONE = Vector.ZERO4").find("attempt to assign to read-only variable 'ONE'"), std::string::npos);
    EXPECT_EQ(Values("local v = Vector.ONE" + std::string(kXYZW)), "1 1 1 1");
    EXPECT_EQ(Values("local v = Vector.RAD2DEG return v.x"), "57.2957802");
}

TEST_F(MathPackageTest, CallsWithoutAVectorWhereOneIsNeededDoNothing) {
    const char* const kCalls[] = {
        "Vector.Length(nil)", "Vector.Dot3(Vector.ONE, nil)", "Vector.Set3(5, 1, 2, 3)",
        "Vector.Mul(nil, 2)", "Vector.Equal(Vector.ONE, 'x')", "Vector.Cross(Vector:Instance(), gLua)",
    };
    for (const char* call : kCalls) EXPECT_EQ(Values(std::string("return select('#', ") + call + ")"), "0") << call;
}

TEST_F(MathPackageTest, BoxesAndTheirViews) {
    struct Case {
        const char* chunk;
        const char* values;
    };
    const Case kCases[] = {
        {"local b = BoundingBox4:Instance(BoundingBox4.INVALID) b:Expand(Vector:Instance(1, 2, 3, 4)) "
         "local mn, mx = b:GetMin(), b:GetMax() return mn.x, mn.y, mn.z, mn.w, mx.x, mx.y, mx.z, mx.w",
         "1 2 3 4 1 2 3 4"},
        {"local v = Vector:Instance(9, 9, 9, 9) BoundingBox4.UNITCUBE3D:GetVertex(v, 5) return v.x, v.y, v.z, v.w",
         "1 -1 1 1"},
        {"local v = Vector:Instance(9, 9, 9, 9) BoundingBox4.UNITCUBE3D:GetVertex(v, 8) "
         "BoundingBox4.UNITCUBE3D:GetVertex(v, -1) return v.x, v.y, v.z, v.w",
         "9 9 9 9"},
        {"local v = Vector:Instance() BoundingBox4.UNITCUBE3D:GetCenter(v) return v.x, v.y, v.z, v.w", "0 0 0 1"},
        {"local v = Vector:Instance() BoundingBox4.UNITCUBE3D:GetNearestPoint(Vector:Instance(5, 0, -5, 1), v) "
         "return v.x, v.y, v.z",
         "1 0 -1"},
        {"local b = BoundingBox4.UNITCUBE3D local m = b:GetMin() m.x = 7 return b:GetMin().x, "
         "BoundingBox4.UNITCUBE3D:GetMin().x",
         "-1 -1"},
        {"local h = Vector:Instance() return BoundingBox4.UNITCUBE3D:CollidesWithSegment3D("
         "Vector:Instance(-5, 0, 0, 1), Vector:Instance(5, 0, 0, 1), h), h.x",
         "true -1"},
        {"return BoundingBox4.UNITCUBE3D:Inside3D(Vector:Instance(1, 1, 1, 0)), "
         "BoundingBox4.UNITCUBE3D:Inside4D(Vector:Instance(1, 1, 1, 0))",
         "true false"},
        {"local o = OBBox4:Instance(OBBox4.ONE) o.Center.y = 5 o.Extent[2].z = 3 "
         "return o.Center.x, o.Center.y, o.Extent[2].z, tostring(o.Extent[3]), tostring(o:GetExtent(3))",
         "1 5 3 nil nil"},
        {"local o = OBBox4:Instance() o:SetExtent(1, Vector.ONE) o:SetExtent(3, Vector.ONE) o.Extent[-1] = Vector.ONE "
         "local e = o:GetExtent(1) e.x = 4 return o.Extent[1].x, o.Extent[0].x, o.Extent[2].x",
         "1 0 0"},
        {"local o = OBBox4:Instance() o:SetCenter(Vector:Instance(1, 2, 3, 4)) o.Center = Vector.HALF "
         "o.Extent[0] = Vector.ONE return o.Center.x, o.Extent[0].y",
         "0.5 1"},
        // Views keep their box alive after every other reference is gone.
        {"local o = OBBox4:Instance(OBBox4.ONE) local c, e = o.Center, o.Extent[1] o = nil collectgarbage() "
         "for i = 1, 200 do local x = OBBox4:Instance() x:SetCenter(Vector:Instance(-1, -1, -1, -1)) "
         "x:SetExtent(1, Vector:Instance(-1, -1, -1, -1)) end return c.x, c.w, e.y",
         "1 0 1"},
        // Instance() is zeroed even where the allocator hands back a freed, filled block.
        {"for i = 1, 50 do BoundingBox4:Instance(Vector.ONE, Vector.ONE) end collectgarbage() "
         "local b = BoundingBox4:Instance() local mn, mx = b:GetMin(), b:GetMax() "
         "return mn.x, mn.y, mn.z, mn.w, mx.x, mx.y, mx.z, mx.w",
         "0 0 0 0 0 0 0 0"},
        {"for i = 1, 50 do OBBox4:Instance(OBBox4.ONE) end collectgarbage() local o = OBBox4:Instance() "
         "local s = 0 for i = 0, 2 do local e = o.Extent[i] s = s + math.abs(e.x) + math.abs(e.y) + math.abs(e.z) "
         "+ math.abs(e.w) end local c = o.Center return s + math.abs(c.x) + math.abs(c.y) + math.abs(c.z) + math.abs(c.w)",
         "0"},
        {"for i = 1, 50 do Matrix:Instance(Vector.ONE, Vector.ONE, Vector.ONE, Vector.ONE) end collectgarbage() "
         "local m = Matrix:Instance() local s = 0 for i = 0, 3 do local r = m.v[i] "
         "s = s + math.abs(r.x) + math.abs(r.y) + math.abs(r.z) + math.abs(r.w) end return s",
         "0"},
    };
    for (const Case& c : kCases) EXPECT_EQ(Values(c.chunk), c.values) << c.chunk;
}

// Debian's interpreter, which python3-numpy installs into.
std::vector<std::string> NumpyAnswers(const std::string& input) {
    const std::string file = testing::TempDir() + "math_reference_input.txt";
    std::ofstream(file) << input;
    const std::string command =
        std::string("/usr/bin/python3 " PROJECT_SOURCE_ROOT "/tests/bindings/math_reference.py < ") + file + " 2>&1";
    std::vector<std::string> lines;
    FILE* p = popen(command.c_str(), "r");
    if (!p) return lines;
    char buffer[4096];
    std::string all;
    while (std::fgets(buffer, sizeof buffer, p)) all += buffer;
    EXPECT_EQ(pclose(p), 0) << all;
    std::istringstream s(all);
    for (std::string line; std::getline(s, line);) lines.push_back(line);
    return lines;
}

std::vector<double> Numbers(const std::string& line) {
    std::vector<double> out;
    std::istringstream s(line);
    for (double d; s >> d;) out.push_back(d);
    return out;
}

// M(...): the matrix of 16 numbers, row by row.
constexpr const char* kMatrixOfNumbers =
    "function M(...) local a = {...} return Matrix:Instance(Vector:Instance(a[1], a[2], a[3], a[4]), "
    "Vector:Instance(a[5], a[6], a[7], a[8]), Vector:Instance(a[9], a[10], a[11], a[12]), "
    "Vector:Instance(a[13], a[14], a[15], a[16])) end ";

std::string Number(float f) {
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", f);
    return text;
}

// Equal within float tolerance, relative to the larger of 1 and the expected value.
bool Close(const std::vector<double>& got, const std::vector<double>& want) {
    bool close = got.size() == want.size();
    for (size_t k = 0; close && k < got.size(); ++k)
        close = std::abs(got[k] - want[k]) <= 2e-4 * std::max(1.0, std::abs(want[k]));
    return close;
}

// 1,000 seeded cases of the matrix, plane and box operations, through the package and
// through numpy.
TEST_F(MathPackageTest, MatrixOperationsAgreeWithNumpy) {
    std::mt19937 random(20261209);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    const char* const kKinds[] = {"inverse",       "det",         "transform", "homogen", "transform3d", "lookat",
                                  "inverselookat", "perspective", "project",   "reflect", "boxtransform"};
    constexpr int kKindCount = sizeof kKinds / sizeof kKinds[0];
    std::string input;
    std::vector<std::string> kinds;
    std::vector<std::string> lua;
    for (int i = 0; i < 1000; ++i) {
        const std::string kind = kKinds[i % kKindCount];
        std::vector<float> n;
        if (kind == "inverse" || kind == "det" || kind.find("transform") == 0 || kind == "homogen") {
            for (int k = 0; k < 16; ++k) n.push_back(unit(random) + (k % 5 == 0 ? 3.0f : 0.0f));  // well conditioned
            if (kind == "homogen")  // w stays well away from 0 after the transform
                n.insert(n.end(), {unit(random), unit(random), unit(random), 5 + unit(random)});
            else if (kind != "inverse" && kind != "det")
                for (int k = 0; k < 4; ++k) n.push_back(unit(random) * 10);
        } else if (kind == "project" || kind == "reflect") {
            for (int k = 0; k < 4; ++k) n.push_back(unit(random) * 10);
            Vector normal(unit(random), unit(random), unit(random) + 2, 0);
            normal = normal * (1.0f / normal.Length3());
            n.insert(n.end(), {normal.x, normal.y, normal.z, 0});
        } else if (kind == "boxtransform") {
            for (int k = 0; k < 3; ++k) n.push_back(unit(random) * 5 - 6);
            for (int k = 0; k < 3; ++k) n.push_back(unit(random) * 5 + 6);
            for (int k = 0; k < 16; ++k) n.push_back(k == 15 ? 1.0f : (k % 4 == 3 ? 0.0f : unit(random) * 3));
        } else if (kind == "perspective") {
            n = {1 + std::abs(unit(random)), 1 + std::abs(unit(random)), 0.1f + std::abs(unit(random)),
                 10 + 100 * std::abs(unit(random))};
        } else {
            for (int k = 0; k < 6; ++k) n.push_back(unit(random) * 20);
            n[3] += 30;  // the target never coincides with the eye
            for (int k = 0; k < 3; ++k) n.push_back(unit(random) * 0.1f);
            n[7] += 1;  // up stays away from the view direction
        }
        std::string args, words = kind;
        for (size_t k = 0; k < n.size(); ++k) {
            args += (k ? ", " : "") + Number(n[k]);
            words += " " + Number(n[k]);
        }
        input += words + "\n";
        kinds.push_back(kind);
        lua.push_back(args);
    }
    const std::vector<std::string> expected = NumpyAnswers(input);
    ASSERT_EQ(expected.size(), kinds.size());

    Run("function Rows(m) local r = {} for i = 0, 3 do local v = m.v[i] "
        "r[#r + 1] = string.format('%.9g %.9g %.9g %.9g', v.x, v.y, v.z, v.w) end return table.concat(r, ' ') end "
        + std::string(kMatrixOfNumbers) +
        "function inverse(...) local m = M(...) m:Inverse() return Rows(m) end "
        "function det(...) return string.format('%.9g', M(...):Det()) end "
        "function transform(...) local a = {...} local v = Vector:Instance(a[17], a[18], a[19], a[20]) "
        "v:Transform(M(...)) return string.format('%.9g %.9g %.9g %.9g', v.x, v.y, v.z, v.w) end "
        "function homogen(...) local a = {...} local v = Vector:Instance(a[17], a[18], a[19], a[20]) "
        "v:TransformHomogen(M(...)) return string.format('%.9g %.9g %.9g %.9g', v.x, v.y, v.z, v.w) end "
        "function transform3d(...) local a = {...} local v = Vector:Instance(a[17], a[18], a[19], a[20]) "
        "v:Transform3D(M(...)) return string.format('%.9g %.9g %.9g %.9g', v.x, v.y, v.z, v.w) end "
        "local function V(a, i) return Vector:Instance(a[i], a[i + 1], a[i + 2], 0) end "
        "function lookat(...) local a = {...} local m = Matrix:Instance() m:LoadLookAtLH(V(a, 1), V(a, 4), V(a, 7)) "
        "return Rows(m) end "
        "function inverselookat(...) local a = {...} local m = Matrix:Instance() "
        "m:LoadInverseLookAtLH(V(a, 1), V(a, 4), V(a, 7)) return Rows(m) end "
        "function perspective(w, h, n, f) local m = Matrix:Instance() m:LoadPerspectiveLH(w, h, n, f) return Rows(m) end "
        "local function Four(v) return string.format('%.9g %.9g %.9g %.9g', v.x, v.y, v.z, v.w) end "
        "function project(...) local a = {...} local v = Vector:Instance() "
        "v:ProjectOntoPlane(Vector:Instance(a[1], a[2], a[3], a[4]), Vector:Instance(a[5], a[6], a[7], a[8])) "
        "return Four(v) end "
        "function reflect(...) local a = {...} local v = Vector:Instance(a[1], a[2], a[3], a[4]) "
        "v:Reflect(Vector:Instance(a[5], a[6], a[7], a[8])) return Four(v) end "
        "function boxtransform(...) local a = {...} local m = M(select(7, ...)) "
        "local b = BoundingBox4:Instance(Vector:Instance(a[1], a[2], a[3], 1), Vector:Instance(a[4], a[5], a[6], 1)) "
        "b:Transform3D(m) local mn, mx = b:GetMin(), b:GetMax() "
        "return string.format('%.9g %.9g %.9g %.9g %.9g %.9g', mn.x, mn.y, mn.z, mx.x, mx.y, mx.z) end");
    int failures = 0;
    for (size_t i = 0; i < kinds.size() && failures < 5; ++i) {
        const std::vector<double> got = Numbers(Values("return " + kinds[i] + "(" + lua[i] + ")"));
        if (!Close(got, Numbers(expected[i]))) {
            ++failures;
            ADD_FAILURE() << kinds[i] << "(" << lua[i] << ")\n package: " << Values("return " + kinds[i] + "(" + lua[i] + ")")
                          << "\n numpy:   " << expected[i];
        }
    }
}

// 1,000 seeded cases each of Slerp (arbitrary pairs, pairs of opposite sign, near and
// exactly parallel pairs) and of Decompose (matrices numpy composes from a scale, with a
// mirrored z in a quarter of the cases, three rotations and a translation), through the
// package and through numpy.
TEST_F(MathPackageTest, SlerpAndDecomposeAgreeWithNumpy) {
    std::mt19937 random(20261210);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    std::uniform_real_distribution<float> fraction(0.0f, 1.0f);
    auto unitQuaternion = [&](const float* near, float spread) {
        float q[4], length = 0;
        for (int k = 0; k < 4; ++k) {
            q[k] = (near ? near[k] : 0.0f) + spread * unit(random);
            length += q[k] * q[k];
        }
        const float scale = 1.0f / std::sqrt(length);
        return std::vector<float>{q[0] * scale, q[1] * scale, q[2] * scale, q[3] * scale};
    };
    std::string input;
    std::vector<std::vector<float>> cases;
    for (int i = 0; i < 2000; ++i) {
        std::vector<float> n;
        if (i % 2 == 0) {
            const int mode = i / 2 % 4;  // arbitrary, opposite sign, near parallel, near opposite
            const std::vector<float> a = unitQuaternion(nullptr, 1);
            std::vector<float> b = mode < 2 ? unitQuaternion(nullptr, 1)
                                            : unitQuaternion(a.data(), i / 8 % 5 == 0 ? 0.0f : 0.01f * fraction(random));
            const float dot = a[0] * b[0] + a[1] * b[1] + a[2] * b[2] + a[3] * b[3];
            if ((mode == 1 && dot > 0) || mode == 3)
                for (float& c : b) c = -c;
            n = a;
            n.insert(n.end(), b.begin(), b.end());
            n.push_back(fraction(random));
            input += "slerp";
        } else {
            for (int k = 0; k < 3; ++k) n.push_back(50 * unit(random));
            n.push_back(1 + 358 * fraction(random));
            n.push_back((1 + 79 * fraction(random)) * (unit(random) < 0 ? -1 : 1));  // away from the poles
            n.push_back(1 + 358 * fraction(random));
            for (int k = 0; k < 3; ++k) n.push_back(0.3f + 2.7f * fraction(random));
            if (i % 8 == 1) n.back() = -n.back();
            input += "decompose";
        }
        for (float f : n) input += " " + Number(f);
        input += "\n";
        cases.push_back(n);
    }
    const std::vector<std::string> expected = NumpyAnswers(input);
    ASSERT_EQ(expected.size(), cases.size());

    Run(std::string(kMatrixOfNumbers) +
        "function decompose(...) local t, r, s = Vector:Instance(), Vector:Instance(), Vector:Instance() "
        "M(...):Decompose(t, r, s) "
        "return string.format(string.rep('%.9g ', 9), t.x, t.y, t.z, r.x, r.y, r.z, s.x, s.y, s.z) end "
        "function slerp(ax, ay, az, aw, bx, by, bz, bw, t) local q = Quaternion:Instance() "
        "q:Slerp(Quaternion:Instance(ax, ay, az, aw), Quaternion:Instance(bx, by, bz, bw), t) return q end");
    int failures = 0;
    for (size_t i = 0; i < cases.size() && failures < 5; ++i) {
        std::vector<double> want = Numbers(expected[i]);
        std::string call;
        for (float f : cases[i]) call += (call.empty() ? "" : ", ") + Number(f);
        std::string got;
        if (i % 2 == 0) {
            call = "slerp(" + call + ")";
            const Quaternion q = QuaternionOf(call);
            got = Number(q.x) + " " + Number(q.y) + " " + Number(q.z) + " " + Number(q.w);
        } else {
            // The package is given the matrix numpy composed.
            call.clear();
            for (size_t k = 0; k < 16 && k < want.size(); ++k) call += (k ? ", " : "") + Number(float(want[k]));
            call = "decompose(" + call + ")";
            want.erase(want.begin(), want.begin() + std::min<size_t>(16, want.size()));
            got = Values("return " + call);
        }
        if (!Close(Numbers(got), want)) {
            ++failures;
            ADD_FAILURE() << call << "\n package: " << got << "\n numpy:   " << expected[i];
        }
    }
}

TEST_F(MathPackageTest, QuaternionFormsAndTheZeroAxisRule) {
    struct Case {
        const char* expression;
        const char* value;
    };
    const Case kCases[] = {
        {"Quaternion:Instance()", "0 0 0 0"},  // zeroed
        {"Quaternion:Instance(1, 2, 3, 4)", "1 2 3 4"},
        {"Quaternion:Instance(Quaternion:Instance(1, 2, 3, 4))", "1 2 3 4"},
        {"Quaternion.ZERO", "0 0 0 1"},
        {"Quaternion.MAX", "3.40282e+38 3.40282e+38 3.40282e+38 3.40282e+38"},
        // A zero axis gives the identity, never NaN.
        {"(function() local q = Quaternion:Instance() q:SetAxisAlpha(Vector.ZERO4, 90) return q end)()", "0 0 0 1"},
        {"(function() local q = Quaternion:Instance() q:SetAxisAlpha(Vector:Instance(0, 0, 2, 0), 180) return q end)()",
         "0 0 1 -4.37114e-08"},
        {"(function() local q = Quaternion:Instance() q:LoadZRotation(180) q:Conjugate() return q end)()",
         "-0 -0 -1 -4.37114e-08"},
        {"(function() local q = Quaternion:Instance(1, 2, 3, 4) q:Mul(Quaternion.ZERO) return q end)()", "1 2 3 4"},
        // Opposite signs take the short arc: halfway between q and -q is q again.
        {"(function() local q = Quaternion:Instance() "
         "q:Slerp(Quaternion:Instance(0, 0, 0, 1), Quaternion:Instance(0, 0, 0, -1), 0.5) return q end)()",
         "0 0 0 1"},
    };
    for (const Case& c : kCases) EXPECT_EQ(Text(QuaternionOf(c.expression)), c.value) << c.expression;
    EXPECT_EQ(Values("local q = Quaternion.ZERO q:Conjugate() q:Mul(Quaternion.MAX) return Quaternion.ZERO == q"),
              "false");
    EXPECT_EQ(Text(Quaternion::ZERO), "0 0 0 1") << "the constant itself never changes";
}

}  // namespace
