# One fuzz target per type support, named package__Type; the seed writer
# names its directories the same way.
set(QUIRAL_FUZZ_DECODERS
  std_msgs__Bool
  vek_msgs__SystemStatus vek_msgs__GripperStates vek_msgs__RealtimeStates
  vek_msgs__RPCRequest vek_msgs__RPCReply
  vek_msgs__JointCommands vek_msgs__CartesianCommands vek_msgs__MotionCommands
  quiral_lumo_msgs__RPCRequest quiral_lumo_msgs__RPCReply quiral_lumo_msgs__EventLog
  quiral_lumo_msgs__AllExtraStreamData quiral_lumo_msgs__AllBasicStreamData)

# One fuzz target per text parser, parse_<name>.cpp; its seeds are the files in
# seeds/<name>.
set(QUIRAL_FUZZ_PARSERS
  param_value param_entries plan_info
  urdf_model urdf_meshes urdf_mesh_placement kinematics_yaml)

set(QUIRAL_FUZZ_TARGETS ${QUIRAL_FUZZ_DECODERS} ${QUIRAL_FUZZ_PARSERS})
