# The resources the program carries: matrix_add_resource(TYPE NAME FILE).
# Files produced by the build get an add_custom_command(OUTPUT ...) here first, so the
# resource is rebuilt whenever its sources change.
