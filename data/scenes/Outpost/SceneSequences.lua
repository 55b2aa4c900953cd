-- The script sequences of "Outpost": the scene has none, so registering and unregistering
-- them changes nothing; the scene's listing calls both.

function RegisterAllScriptSequences() end
function UnregisterAllScriptSequences() end
