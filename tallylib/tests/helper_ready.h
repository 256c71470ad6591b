// Set by a test helper once it runs, so the program it helps can wait for it.
#pragma once

constexpr char kHelperReadyEvent[] = "TallyTestHelperReady";
