// test-sources: ../../engine/NumpyReference.cpp
// test-sanitize: address
// The route of the path renderer against the numpy.float32 reference
// (tests/game/path/path_reference.py): sampling of flag connections (the named 10 and 11
// unit cases, random lengths, the point cap), segments that add nothing, marks, the
// smoothed and offset route of random flag graphs through a moved graph, the squad's
// place from scratch and moving forward, closed loops, the squad limit, the route's end,
// and degenerate routes (samples beyond the float range among them) that must stay finite.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "PathTestSupport.h"
#include "game/path/PathRoute.h"
#include "render/RenderTestSupport.h"

using namespace pathtest;

namespace {

using RouteTest = PathFixture<rendertest::RendererFixture>;

bool Finite(const std::vector<Vector>& points) {
    for (const Vector& p : points)
        for (int i = 0; i < 4; ++i)
            if (!std::isfinite(p[i])) return false;
    return true;
}

TEST_F(RouteTest, ConnectionsAreSampledEvery2Point5WithTheRemainderInTheMiddle) {
    const struct {
        float length;
        std::vector<float> at;
    } cases[] = {{10.0f, {0.0f, 2.5f, 5.0f, 7.5f}}, {11.0f, {0.0f, 2.5f, 6.0f, 8.5f}}, {2.4f, {}}, {2.5f, {0.0f}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.length);
        std::vector<FlagEntity*> flags = Chain({Vector(0, 0, 0, 1), Vector(c.length, 0, 0, 1)});
        path->BeginPath();
        path->AddGraphSegment(flags[0], flags[1], 1.0f, false, false, false);
        ASSERT_EQ(path->Points().size(), c.at.size());
        for (size_t i = 0; i < c.at.size(); ++i) EXPECT_NEAR(path->Points()[i].x, c.at[i], 1e-5f) << i;
        EXPECT_NEAR(path->EndPoint().x, c.length, 1e-5f);
    }
    // Random lengths and rooms against the reference.
    std::mt19937 rng(75);
    std::uniform_real_distribution<float> length(0.0f, 300.0f);
    std::ostringstream input;
    std::vector<std::pair<float, uint32_t>> asked;
    for (int i = 0; i < 40; ++i) {
        const float l = length(rng);
        const uint32_t room = i % 4 == 0 ? uint32_t(rng() % 50) : 65536u;
        asked.push_back({l, room});
        input << "sample " << FloatBits(l) << " " << room << "\n";
    }
    const std::vector<std::string> lines = RunNumpyReference("../game/path/path_reference.py", input.str());
    ASSERT_EQ(lines.size(), asked.size());
    for (size_t i = 0; i < asked.size(); ++i) {
        std::vector<float> got(65536);
        got.resize(PathSampleDistances(asked[i].first, asked[i].second, got.data()));
        EXPECT_EQ(got, ParseFloats(lines[i])) << asked[i].first << " room " << asked[i].second;
    }
}

TEST_F(RouteTest, SegmentsThatCannotBeSampledAddNothing) {
    GraphEntity* other = Graph(Matrix::IDENTITY);
    std::vector<FlagEntity*> flags = Chain({Vector(0, 0, 0, 1), Vector(20, 0, 0, 1), Vector(40, 0, 0, 1)});
    FlagEntity* elsewhere = Flag(Vector(30, 0, 0, 1), other);
    flags[1]->AddConnection(elsewhere);  // a connection across graphs
    path->BeginPath();
    path->AddGraphSegment(flags[0], flags[1], 1.0f, false, false, false);
    const Vector end = path->EndPoint();
    const size_t count = path->Points().size();
    const struct {
        const char* what;
        FlagEntity *a, *b;
    } cases[] = {{"no connection back", flags[1], flags[0]}, {"different graphs", flags[1], elsewhere},
                 {"no first flag", nullptr, flags[1]}, {"no second flag", flags[0], nullptr},
                 {"no connection", flags[0], flags[2]}};
    for (const auto& c : cases) {
        path->AddGraphSegment(c.a, c.b, 1.0f, true, true, true);
        EXPECT_EQ(path->Points().size(), count) << c.what;
        EXPECT_EQ(path->EndPoint(), end) << c.what;
        EXPECT_EQ(path->SquadPointIndex(), kPathNoSquadPoint) << c.what;
    }
}

TEST_F(RouteTest, MarksComeBackNegativeAndTinyOffsetsAreRaised) {
    std::vector<FlagEntity*> flags = Chain({Vector(0, 0, 0, 1), Vector(10, 0, 0, 1), Vector(20, 0, 0, 1)});
    path->BeginPath();
    path->AddGraphSegment(flags[0], flags[1], 0.0f, false, true, false);
    path->AddGraphSegment(flags[1], flags[2], 3.0f, true, false, true);
    const std::vector<Vector>& p = path->Points();
    ASSERT_EQ(p.size(), 8u);
    EXPECT_EQ(p[0].w, -kPathMinOffset);
    EXPECT_EQ(p[1].w, kPathMinOffset);
    EXPECT_EQ(p[4].w, 3.0f);  // no start mark on the second segment
    EXPECT_EQ(path->EndPoint().w, -3.0f);
    EXPECT_EQ(path->SquadPointIndex(), 4u);
    path->FinishPath();
    ASSERT_EQ(path->Points().size(), 9u);
    // After smoothing every point carries the script's signed w again.
    EXPECT_EQ(path->Points()[0].w, -kPathMinOffset);
    EXPECT_EQ(path->Points()[8].w, -3.0f);
}

// Random flag graphs in a moved and turned graph: the raw route (with its end point) goes
// to the reference, which must give the smoothed and offset route, and the squad queries.
TEST_F(RouteTest, RandomRoutesMatchTheReference) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> coord(-200.0f, 200.0f), unit(0.0f, 1.0f);
    struct Case {
        std::vector<Vector> raw, finished;
        bool closed;
        std::vector<Vector> queries;
    };
    std::vector<Case> cases;
    std::ostringstream input;
    uint32_t lines = 0;
    for (int k = 0; k < 10; ++k) {
        Matrix m;
        m.LoadYRotation(unit(rng) * 360.0f);
        m.r[3] = Vector(coord(rng), unit(rng) * 5.0f, coord(rng), 1);
        GraphEntity* g = Graph(m);
        std::vector<Vector> positions;
        const int flags = 2 + int(rng() % 6);
        for (int i = 0; i < flags; ++i) positions.push_back(Vector(coord(rng) * 0.3f, unit(rng) * 4.0f, coord(rng) * 0.3f, 1));
        if (k % 3 == 0) positions.push_back(positions[0]);  // a loop back to the start
        std::vector<FlagEntity*> chain = Chain(positions, g);
        pathTemplate.smoothness = k == 4 ? 0.0f : 0.5f + unit(rng) * 5.0f;
        path->BeginPath();
        for (size_t i = 0; i + 1 < chain.size(); ++i)
            path->AddGraphSegment(chain[i], chain[i + 1], 0.5f + unit(rng) * 3.0f, i == 1, unit(rng) < 0.3f,
                                  unit(rng) < 0.3f);
        Case c;
        c.raw = path->Points();
        c.raw.push_back(path->EndPoint());
        path->FinishPath();
        c.finished = path->Points();
        c.closed = path->IsClosed();
        ASSERT_EQ(c.finished.size(), c.raw.size());
        input << "route " << FloatBits(pathTemplate.smoothness) << PointWords(c.raw) << "\n";
        ++lines;
        // Squad queries near the finished route: from scratch, then forward.
        for (int q = 0; q < 4; ++q) {
            const Vector& on = c.finished[rng() % c.finished.size()];
            const Vector at(on.x + unit(rng) * 4.0f - 2.0f, on.y, on.z + unit(rng) * 4.0f - 2.0f, 1);
            const Vector direction(unit(rng) * 2.0f - 1.0f, 0, unit(rng) * 2.0f - 1.0f, 0);
            c.queries.push_back(at);
            c.queries.push_back(direction);
        }
        cases.push_back(c);
    }
    // The squad queries need the finished routes that the reference is checked against
    // first; they go as a second batch.
    std::vector<std::string> got = RunNumpyReference("../game/path/path_reference.py", input.str());
    ASSERT_EQ(got.size(), lines);
    std::ostringstream squad;
    std::vector<std::vector<float>> mine;
    for (size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(i);
        const std::vector<float> want = ParseFloats(got[i]);
        ASSERT_EQ(want.size(), 4 * c.finished.size());
        for (size_t j = 0; j < c.finished.size(); ++j)
            for (int a = 0; a < 4; ++a) EXPECT_NEAR(c.finished[j][a], want[4 * j + a], 1e-4f) << "point " << j << " " << a;
        for (size_t q = 0; q < c.queries.size(); q += 2) {
            PathSquadPlace place;
            const float from = PathResetSquad(c.finished.data(), uint32_t(c.finished.size()), c.closed, c.queries[q],
                                              c.queries[q + 1], place);
            mine.push_back({from, float(place.segment), place.segmentStart});
            squad << "reset " << (c.closed ? 1 : 0) << PointWords(c.finished) << Words(c.queries[q], 3)
                  << Words(c.queries[q + 1], 3) << "\n";
            const Vector ahead = c.finished[std::min<size_t>(place.segment + 3, c.finished.size() - 1)];
            squad << "update" << PointWords(c.finished) << " " << place.segment << " " << FloatBits(place.segmentStart)
                  << Words(ahead, 3) << "\n";
            const float onward = PathUpdateSquad(c.finished.data(), uint32_t(c.finished.size()), ahead, place);
            mine.push_back({onward, float(place.segment), place.segmentStart});
        }
    }
    got = RunNumpyReference("../game/path/path_reference.py", squad.str());
    ASSERT_EQ(got.size(), mine.size());
    for (size_t i = 0; i < mine.size(); ++i) {
        const std::vector<float> want = ParseFloats(got[i]);
        ASSERT_EQ(want.size(), 3u);
        EXPECT_NEAR(mine[i][0], want[0], 1e-4f * (1.0f + std::fabs(want[0]))) << "query " << i;
        EXPECT_EQ(mine[i][1], want[1]) << "query " << i;
        EXPECT_NEAR(mine[i][2], want[2], 1e-4f * (1.0f + want[2])) << "query " << i;
    }
}

TEST_F(RouteTest, AStraightOpenRouteStaysStraightAndStartsWithoutOffset) {
    Route(Chain({Vector(0, 0, 0, 1), Vector(50, 0, 0, 1), Vector(100, 0, 0, 1)}), 2.0f);
    const std::vector<Vector>& p = path->Points();
    ASSERT_EQ(p.size(), 41u);
    EXPECT_FALSE(path->IsClosed());
    // The first point keeps no offset; in the middle the full offset is to the right
    // ((0, 1, 0) x +x = -z).
    EXPECT_NEAR(p[0].z, 0.0f, 1e-6f);
    EXPECT_NEAR(p[20].z, -2.0f, 1e-5f);
    for (size_t i = 0; i < p.size(); ++i) {
        EXPECT_EQ(p[i].y, 0.0f) << i;
        if (i > 0) {
            EXPECT_GT(p[i].x, p[i - 1].x) << i;
        }
    }
    // The local box holds the route, raised by 1000.
    const BoundingBox4& box = path->GetLocalBoundingBox();
    EXPECT_NEAR(box.min.x, 0.0f, 1e-4f);
    EXPECT_NEAR(box.max.x, 100.0f, 1e-4f);
    EXPECT_NEAR(box.max.y, 1000.0f, 1e-4f);
}

TEST_F(RouteTest, AClosedLoopWrapsAndPlacesTheSquadAtTheStart) {
    Route(Chain({Vector(0, 0, 0, 1), Vector(40, 0, 0, 1), Vector(40, 0, 40, 1), Vector(0, 0, 40, 1), Vector(0, 0, 0, 1)}),
          2.0f);
    const std::vector<Vector>& p = path->Points();
    ASSERT_TRUE(path->IsClosed());
    EXPECT_EQ(p.back(), p.front());
    // Wrapped smoothing: the corner at the start is rounded like any other corner and the
    // start point carries its offset.
    EXPECT_GT(std::fabs(p[0].x) + std::fabs(p[0].z), 0.5f);
    path->ResetSquadPosition(Vector(20, 0, 0, 1), Vector(1, 0, 0, 0));
    EXPECT_EQ(path->SquadDistance(), 0.0f);
    EXPECT_EQ(path->SquadRawDistance(), 0.0f);
}

TEST_F(RouteTest, TheSquadIsClampedToItsLimitAndExtrapolatesPastTheEnd) {
    std::vector<FlagEntity*> flags = Chain({Vector(0, 0, 0, 1), Vector(50, 0, 0, 1), Vector(100, 0, 0, 1)});
    path->BeginPath();
    path->AddGraphSegment(flags[0], flags[1], 1.0f, false, false, false);
    path->AddGraphSegment(flags[1], flags[2], 1.0f, true, false, false);  // the squad stops at 50
    path->FinishPath();
    EXPECT_NEAR(path->SquadLimit(), 50.0f, 0.2f);
    path->ResetSquadPosition(Vector(10, 0, -1, 1), Vector(1, 0, 0, 0));
    EXPECT_NEAR(path->SquadDistance(), 10.0f, 0.2f);
    // Forward steps: past the limit the clamped distance stops while the raw one goes on.
    const float steps[] = {30, 70, 99};
    for (float x : steps) {
        path->UpdateSquadPosition(Vector(x, 0, -1, 1));
        EXPECT_NEAR(path->SquadRawDistance(), x, 0.2f) << x;
        EXPECT_NEAR(path->SquadDistance(), std::min(x, path->SquadLimit()), 0.2f) << x;
    }
    // Past the route's end the raw distance keeps growing along the last segment's line.
    const std::vector<Vector>& p = path->Points();
    const Vector last = p[p.size() - 1] - p[p.size() - 2];
    path->UpdateSquadPosition(Vector(120, 0, -1, 1));
    const float at120 = path->SquadRawDistance();
    path->UpdateSquadPosition(Vector(200, 0, -1, 1));
    EXPECT_EQ(path->SquadSegment(), uint32_t(p.size() - 2));
    EXPECT_NEAR(path->SquadRawDistance() - at120, 80.0f * last.x / last.Length3(), 1e-3f);
    EXPECT_GT(at120, path->Points().size() * 2.5f - 2.5f);
    EXPECT_EQ(path->SquadDistance(), path->SquadLimit());
    // No segment along the direction: distance 0.
    path->ResetSquadPosition(Vector(40, 0, 0, 1), Vector(-1, 0, 0, 0));
    EXPECT_EQ(path->SquadRawDistance(), 0.0f);
}

// The squad's place from scratch on a route with a repeated point: the nearer neighbour's
// segment is taken, and where both ends of that segment are the squad's position (a + b
// = 0) no fraction is added.
TEST_F(RouteTest, TheSquadPlaceFromScratchOnARepeatedPoint) {
    const Vector route[] = {Vector(0, 0, 0, 1), Vector(10, 0, 0, 1), Vector(10, 0, 0, 1), Vector(20, 0, 0, 1)};
    const struct {
        Vector position;
        uint32_t segment;
        float start, distance;
    } cases[] = {
        {Vector(10, 0, 0, 1), 1, 10.0f, 10.0f},  // p[k-1] = p[k] = position
        {Vector(4, 0, 0, 1), 0, 0.0f, 4.0f},     // a fraction of the first segment
        {Vector(17, 0, 0, 1), 2, 10.0f, 17.0f},  // past the repeated point
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.position.x);
        PathSquadPlace place;
        const float d = PathResetSquad(route, 4, false, c.position, Vector(1, 0, 0, 0), place);
        EXPECT_EQ(place.segment, c.segment);
        EXPECT_EQ(place.segmentStart, c.start);
        EXPECT_FLOAT_EQ(d, c.distance);
    }
}

TEST_F(RouteTest, DegenerateRoutesStayFinite) {
    // Duplicate flags (a zero-length connection adds nothing), a vertical connection, a
    // flag below and above its neighbour, no smoothing, and the point cap.
    std::vector<FlagEntity*> flags =
        Chain({Vector(0, 0, 0, 1), Vector(0, 0, 0, 1), Vector(0, 30, 0, 1), Vector(0, 30, 0.001f, 1), Vector(0, 0, 10, 1)});
    const float smoothness[] = {0.0f, -1.0f, 1e-30f, std::nanf(""), 3.2f};
    for (float s : smoothness) {
        SCOPED_TRACE(s);
        pathTemplate.smoothness = s;
        Route(flags, 2.0f);
        EXPECT_TRUE(Finite(path->Points()));
        path->ResetSquadPosition(Vector(0, 15, 0, 1), Vector(0, 1, 0, 0));
        path->UpdateSquadPosition(Vector(0, 30, 5, 1));
        EXPECT_TRUE(std::isfinite(path->SquadRawDistance()));
        EXPECT_TRUE(std::isfinite(path->GetLocalBoundingBox().max.x));
    }
    pathTemplate.smoothness = 3.2f;
    // A graph scaled beyond the float range: the samples that leave it are left out,
    // with one warning for the entity however many there are.
    Matrix huge;
    huge.LoadScale(1e38f, 1e38f, 1e38f);
    GraphEntity* far = Graph(huge);
    std::vector<FlagEntity*> out = Chain({Vector(0, 0, 0, 1), Vector(10, 0, 0, 1)}, far);
    log.Clear();
    path->BeginPath();
    path->AddGraphSegment(out[0], out[1], 1.0f, false, false, false);
    path->AddGraphSegment(out[0], out[1], 1.0f, false, false, false);
    EXPECT_EQ(path->Points().size(), 4u);  // 0 and 1e38 x 2.5 of each; 5 and 7.5 x 1e38 overflow
    EXPECT_EQ(Lines("Path renderer").size(), 1u);
    path->FinishPath();
    EXPECT_TRUE(Finite(path->Points()));
    std::vector<FlagEntity*> longRoute = Chain({Vector(-1000, 0, 0, 1), Vector(1000, 0, 0, 1)});
    path->BeginPath();
    for (int i = 0; i < 200; ++i) path->AddGraphSegment(longRoute[0], longRoute[1], 1.0f, false, false, false);
    EXPECT_EQ(path->Points().size(), kPathMaxPoints);
    path->FinishPath();
    EXPECT_EQ(path->Points().size(), kPathMaxPoints);  // no room for the end point
    EXPECT_TRUE(Finite(path->Points()));
}

}  // namespace
