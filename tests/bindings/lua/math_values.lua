-- The maths package's script-owned values and the views into them. Under the address
-- sanitizer a value freed twice, freed too early, or never freed is a finding.

local kClasses = {"Vector", "Matrix", "Quaternion", "BoundingBox4", "OBBox4"}

local function Row(r)
    return table.concat({r.x, r.y, r.z, r.w}, " ")
end

Test("a matrix's rows are views that keep their matrix alive", function()
    AssertEqual(Row(Matrix.ONE.v[3]), "0 0 0 1", "a row of a constant")
    local m = Matrix:Instance(Matrix.ONE)
    m.v[1].y = 5
    m.v[2] = Vector:Instance(1, 2, 3, 4)
    AssertEqual(m.v[1].y, 5, "a row written through its view")
    AssertEqual(m.v[2].z, 3, "an assigned row")
    AssertEqual(m:Det(), 15, "the determinant after the writes")

    m = Matrix:Instance()
    m:LoadTranslation(7, 8, 9)
    local row = m.v[3]
    m = nil
    collectgarbage()
    collectgarbage()
    for i = 1, 200 do Matrix:Instance():LoadTranslation(-1, -1, -1) end
    AssertEqual(Row(row), "7 8 9 1", "the row outlives every other reference to its matrix")

    m = Matrix:Instance(Matrix.ONE)
    m.v[4] = Vector.ONE
    m.v[-1] = Vector.ONE
    AssertEqual(m.v[4], nil, "a row past the end")
    AssertEqual(m.v[-1], nil, "a row before the start")
    AssertEqual(m:Det(), 1, "the determinant after writes out of range")
    m:LoadScale3(2, 3, 4)
    AssertEqual(m:Det(), 24, "LoadScale3")
    Matrix.ONE.v[0].x = 9
    AssertEqual(Matrix.ONE.v[0].x, 1, "constants are copies")
    AssertEqual(Results(m:Mul(nil)), "0", "Mul with nil")
end)

Test("a box's views keep the box alive", function()
    local o = OBBox4:Instance(OBBox4.ONE)
    local center, extent = o.Center, o.Extent[1]
    o = nil
    collectgarbage()
    collectgarbage()
    center.y = 5
    AssertEqual(center.x + center.y, 6, "center of a dropped box")
    AssertEqual(extent.y, 1, "extent of a dropped box")
end)

Test("a churn of every value class, its copies and views frees what it made", function()
    for i = 1, 300 do
        for _, name in ipairs(kClasses) do
            local v = _G[name]:Instance()
            local w = _G[name]:Instance(v)
            AssertEqual(tolua.type(w), name)
        end
        local m = Matrix:Instance(Matrix.ONE)
        local row = m.v[i % 4]
        row.x = i
        local box = OBBox4:Instance()
        box.Extent[i % 3] = Vector:Instance(i, i, i)
        Vector.ZERO4:Mul(2)
    end
    collectgarbage()
    AssertEqual(Vector.ZERO4.x, 0, "a constant after the churn")
end)
