-- The camera package over the fixture's camera controller and the free cameras.

local function Row(v)
    return string.format("%.4g %.4g %.4g %.4g", v.x, v.y, v.z, v.w)
end

local function Controller()
    return Fixture.GameCameraController()
end

Test("constants keep the controller's values", function()
    local cases = {
        {"CAMERASUBCONTROLLER_BASE", 0}, {"CAMERASUBCONTROLLER_RTS", 1}, {"GCCF_LINEAR", 0},
        {"GCCF_HALFSINE", 1}, {"GCCF_INVHALFSINE", 2}, {"GCCF_SINE", 3},
        {"GCCF_GAMEPLAYTIME", 16}, {"GCCF_SYSTEMTIME", 32},
    }
    for _, c in ipairs(cases) do AssertEqual(_G[c[1]], c[2], c[1]) end
end)

Test("a new subcontroller arrives under the class it reports; an unknown kind gives nil", function()
    local c = Controller()
    local cases = {
        {CAMERASUBCONTROLLER_BASE, "LCBaseCameraSubcontroller"},
        {CAMERASUBCONTROLLER_RTS, "LCRTSCameraSubcontroller"},
        {5, nil},
        {-1, nil},  -- -1 wraps to 0xFFFFFFFF in an unsigned place: no kind
    }
    for _, case in ipairs(cases) do
        local sub = c:AddNewSubcontroller(case[1])
        AssertEqual(sub and tolua.type(sub), case[2], "kind " .. case[1])
    end
    AssertEqual(Results(c:AddNewSubcontroller(5)), "1 nil", "nil is one result")
end)

Test("a subcontroller deleted by the controller is dead in the script", function()
    local c = Controller()
    local sub = c:AddNewSubcontroller(CAMERASUBCONTROLLER_RTS)
    sub:SetAcceleration(3)
    AssertTrue(c:DeleteSubcontroller(sub), "deleted")
    local errors = Runner.ErrorCount()
    AssertRaises("attempt to use a dead LCRTSCameraSubcontroller object", function() sub:SetAcceleration(4) end)
    AssertEqual(Results(c:DeleteSubcontroller(sub)), "0", "a dead argument rejects the call")
    local fresh = c:AddNewSubcontroller(CAMERASUBCONTROLLER_RTS)
    fresh:SetAcceleration(1)
    AssertEqual(Runner.ErrorCount(), errors, "a later subcontroller is live")

    local current = c:AddNewSubcontroller(CAMERASUBCONTROLLER_BASE)
    AssertEqual(c:SetCurrentSubcontroller(current), true, "made current at once")
    AssertFalse(c:DeleteSubcontroller(current), "the current subcontroller stays")
    AssertEqual(current:GetFOV(), current:GetFOV(), "still live")
end)

Test("SetRotation: a quaternion is copied, numbers and nil take the angle form", function()
    local c = Controller()
    -- A rotation as the rows of its matrix.
    local function Rows(q)
        local m = Matrix:Instance()
        m:LoadQuaternion(q)
        local rows = {}
        for i = 0, 2 do rows[#rows + 1] = Row(m.v[i]) end
        return table.concat(rows, " | ")
    end
    local function Rotation(...)
        local sub = c:AddNewSubcontroller(CAMERASUBCONTROLLER_BASE)
        sub:SetRotation(...)
        return Rows(sub:GetRotation())
    end
    local q = Quaternion:Instance()
    q:SetAxisAlpha(Vector:Instance(0, 1, 0), 1)
    AssertEqual(Rotation(q), Rows(q), "the quaternion form")
    AssertEqual(Rotation(nil), Rotation(0, 0, 0), "nil is the angle form with zeros")
    AssertEqual(Rotation(0, 0, 0), "1 0 0 0 | 0 1 0 0 | 0 0 1 0", "no turn")
    AssertTrue(Rotation(90, 0, 0) ~= Rotation(0, 0, 0), "the angle form turns")
end)

Test("the strategy drive's defaults: a timed lerp of no time arrives at once", function()
    local sub = Controller():AddNewSubcontroller(CAMERASUBCONTROLLER_RTS)
    sub:SetPosition(Vector:Instance(0, 0, 0))
    sub:GoToPositionTimeLerp(Vector:Instance(4, 5, 6))
    AssertEqual(Row(sub:GetPosition()), "4 5 6 1", "at the target")
end)

Test("the strategy drive's lerps take their defaults", function()
    local c = Controller()
    local sub = c:AddNewSubcontroller(CAMERASUBCONTROLLER_RTS)
    c:SetCurrentSubcontroller(sub)
    -- One frame of 0.01 s for the exponential lerp; a quarter of the timed one.
    local function Lerp(...)
        Fixture.CameraClock(0, 0.01)
        sub:SetPosition(Vector:Instance(0, 0, 0))
        sub:GoToPositionLerp(Vector:Instance(10, 0, 0), ...)
        Fixture.UpdateCameraController()
        Fixture.CameraClock()
        return Row(sub:GetPosition())
    end
    local function TimedLerp(...)
        Fixture.CameraClock(0, 0)
        sub:SetPosition(Vector:Instance(0, 0, 0))
        sub:GoToPositionTimeLerp(Vector:Instance(10, 0, 0), 1, ...)
        Fixture.CameraClock(0.25, 0)
        Fixture.UpdateCameraController()
        Fixture.CameraClock()
        return Row(sub:GetPosition())
    end
    local cases = {
        {"GoToPositionLerp", Lerp, {1000}, {1}},
        {"GoToPositionTimeLerp", TimedLerp, {GCCF_SINE}, {GCCF_LINEAR}},
    }
    for _, case in ipairs(cases) do
        local default = case[2]()
        AssertEqual(default, case[2](unpack(case[3])), case[1] .. ": the default")
        AssertTrue(default ~= case[2](unpack(case[4])), case[1] .. ": another value differs")
    end
end)

Test("a subcontroller of another controller is not made current, yet the answer is true", function()
    local c = Controller()
    local own = c:AddNewSubcontroller(CAMERASUBCONTROLLER_BASE)
    own:SetPosition(Vector:Instance(1, 2, 3))
    c:SetCurrentSubcontroller(own)
    local foreign = Fixture.OtherCameraController():AddNewSubcontroller(CAMERASUBCONTROLLER_BASE)
    foreign:SetPosition(Vector:Instance(7, 8, 9))
    for _, blend in ipairs({0, 2}) do
        AssertEqual(c:SetCurrentSubcontroller(foreign, blend), true, "blend " .. blend)
        Fixture.UpdateCameraController()
        AssertEqual(Row(c:GetCameraPosition()), "1 2 3 1", "blend " .. blend .. ": the own one stays")
    end
end)

Test("the controller's matrices are those of the camera it rebuilt", function()
    local c = Controller()
    local sub = c:AddNewSubcontroller(CAMERASUBCONTROLLER_BASE)
    sub:SetPosition(Vector:Instance(4, 5, 6))
    sub:SetRotation(30, 10, 0)
    c:SetCurrentSubcontroller(sub)
    Fixture.UpdateCameraController()
    local inv = c:GetCameraInvViewMatrix()
    AssertEqual(Row(inv.v[3]), "4 5 6 1", "the eye")
    local product = Matrix:Instance()
    product:Mul(c:GetCameraViewMatrix(), inv)
    for i = 0, 3 do
        local want = {0, 0, 0, 0}
        want[i + 1] = 1
        local row = product.v[i]
        AssertNear(row.x, want[1], "row " .. i .. " x")
        AssertNear(row.y, want[2], "row " .. i .. " y")
        AssertNear(row.z, want[3], "row " .. i .. " z")
        AssertNear(row.w, want[4], "row " .. i .. " w")
    end
end)

Test("AlterViewDistance never takes the distance below 0", function()
    local cases = {{3, -5, 0}, {3, -2, 1}, {1, 0.5, 1.5}}
    for _, c in ipairs(cases) do
        local camera = TargetViewCamera()
        camera:SetTargetPosition(Vector:Instance(0, 0, 0))
        camera:SetViewDistance(c[1])
        camera:AlterViewDistance(c[2])
        Fixture.RebuildCamera(camera)
        local eye = camera:GetInvViewMatrix().v[3]
        AssertNear(math.sqrt(eye.x * eye.x + eye.y * eye.y + eye.z * eye.z), c[3], c[1] .. " " .. c[2])
    end
end)

Test("matrices and positions are the script's copies", function()
    local c = Controller()
    local cases = {"GetCameraViewMatrix", "GetCameraProjectionMatrix", "GetCameraInvViewMatrix",
                   "GetCameraInvViewProjectionMatrix"}
    for _, name in ipairs(cases) do
        local before = Row(c[name](c).v[3])
        c[name](c).v[3]:Set(9, 9, 9, 9)
        AssertEqual(Row(c[name](c).v[3]), before, name)
    end
    local camera = PerspectiveCamera()
    camera:SetPosition(Vector:Instance(1, 2, 3), 0, 0)
    local eye = camera:GetEyePosition()
    eye:Set(0, 0, 0, 0)
    AssertEqual(Row(camera:GetEyePosition()), "1 2 3 1", "the eye")
    local target = TargetViewCamera()
    target:SetTargetPosition(Vector:Instance(7, 8, 9))
    target:MoveLocal(Vector:Instance(1, 0, 0, 0))
    AssertEqual(Row(target:GetTargetPosition()), "8 8 9 1", "the target moved in the camera's frame")
    AssertEqual(c:GetSoundListenerAltitude(), 100, "the listener altitude")
end)

Test("script-owned cameras are collected; new ones live on", function()
    for i = 1, 50 do
        local a, b = PerspectiveCamera:new_local(), TargetViewCamera()
        a:MoveLocal(Vector:Instance(1, 0, 0, 0))
        b:AlterViewDistance(-5)
    end
    lasting = TargetViewCamera:new()
    collectgarbage()
    collectgarbage()
    lasting:SetViewDistance(3)
    AssertEqual(Results(lasting.delete), "1 nil", "no delete")
end)

Test("a shake starts only with a duration and while none runs", function()
    local c = Controller()
    c:ResetCameraShakeEffect()
    local cases = {
        {{}, false, "all seven default to 0: no duration"},
        {{-1, 1, 1, 1, 1, 1, GCCF_SYSTEMTIME}, false, "a negative duration"},
        {{2, 1, 1, 1, 1, 1, GCCF_SYSTEMTIME}, true, "started"},
        {{2}, false, "one runs already"},
    }
    for _, case in ipairs(cases) do
        AssertEqual(c:StartCameraShakeEffect(unpack(case[1])), case[2], case[3])
    end
    c:ResetCameraShakeEffect()
    AssertEqual(c:StartCameraShakeEffect(1), true, "after a reset")
    c:ResetCameraShakeEffect()
end)
