target_sources(cgiclib PRIVATE)
