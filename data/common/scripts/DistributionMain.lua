-- The sample's main script for a distribution run: the ordinary main script's functions,
-- and the report of the resources the "common" set needs beyond its scripts (the sample
-- names none).
gLua:ExecuteFile("Main", "common/scripts")

function ReportCommonResources(setName) end
