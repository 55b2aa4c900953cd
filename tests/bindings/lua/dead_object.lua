-- An engine object destroyed while a script still holds it.

Test("using a dead object raises one counted error naming its class", function()
    function RunnerProbe:Name() return "probe" end
    probe = Runner.Spawn()
    AssertEqual(probe:Name(), "probe", "a live object's method")
    Runner.KillAll()
    local errors = Runner.ErrorCount()
    AssertFalse(Runner.Execute("probe:Name()"), "a run using the dead object")
    AssertEqual(Runner.ErrorCount(), errors + 1, "errors counted")
    AssertEqual(Runner.Warnings("attempt to use a dead RunnerProbe object"), 1, "reports of the dead object")
    AssertRaises("attempt to use a dead RunnerProbe object", function() return probe.anything end)
    AssertTrue(Runner.Execute("probe = nil collectgarbage()"), "dropping the dead handle")
    AssertEqual(Runner.ErrorCount(), errors + 1, "errors counted after the handle went")
end)

Test("a new object is a live handle of its own", function()
    local old = Runner.Spawn()
    Runner.KillAll()
    local fresh = Runner.Spawn()
    AssertEqual(fresh:Name(), "probe")
    AssertRaises("attempt to use a dead RunnerProbe object", function() return old:Name() end)
    Runner.KillAll()
end)
