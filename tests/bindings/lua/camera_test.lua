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
        {-1, "LCBaseCameraSubcontroller"},  -- -1 reads 0 in an unsigned place
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
