-- The maths package's script-owned values and the views into them. Under the address
-- sanitizer a value freed twice, freed too early, or never freed is a finding.

local kClasses = {"Vector", "Matrix", "Quaternion", "BoundingBox4", "OBBox4"}

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
