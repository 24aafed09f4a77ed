"""The commands quern-runtime lets through to a backend.

COMMANDS is a copy of the runtime's own table (src/protocol/command_table.cpp
in the quern-runtime repository), in its order; the package's tests hold the
two, and the list in docs/backend.md, to the same names.
"""

from __future__ import annotations

import difflib
from typing import Tuple

COMMANDS: Tuple[str, ...] = (
    "voice_status",
    "voice_open",
    "voice_close",
    "voice_settings",
    "status",
    "generate",
    "train",
    "benchmark",
    "cancel",
    "shutdown",
    "trainer_status",
    "import_dataset",
    "preprocess",
    "preflight",
    "pretrain",
    "evaluate",
    "pause",
    "safe_stop",
    "import_model",
    "unload_model",
    "agent_prepare_workspace",
    "agent_set_approval_mode",
    "agent_approval_answer",
    "agent_enqueue_followup",
    "agent_question_answer",
    "app_conversations_list",
    "app_conversation_read",
    "app_conversation_send",
    "app_conversation_status",
    "app_conversation_cancel",
    "app_conversation_inbox",
    "app_conversation_ack",
    "app_conversation_dispatch",
    "app_conversation_chat_start",
    "app_conversation_confirm",
    "agent_status",
    "agent_changes",
    "agent_change",
    "agent_history",
    "agent_register_project",
    "agent_file",
    "agent_rollback_preview",
    "agent_rollback",
    "agent_start",
    "agent_resume",
    "agent_pause",
    "agent_continue",
    "agent_stop",
    "agent_delete_conversation",
    "account_list",
    "account_create",
    "account_login",
    "account_state",
    "account_remembered",
    "account_switch",
    "account_add",
    "account_logout",
    "account_get_value",
    "account_value_begin",
    "account_value_part",
    "account_value_commit",
    "account_change_password",
    "account_export",
    "account_restore",
    "account_delete",
    "account_legacy_preview",
    "account_legacy_import",
    "account_reveal_path",
    "account_attachment_begin",
    "account_attachment_part",
    "account_attachment_commit",
    "account_attachment_get",
    "account_attachment_check_source",
    "account_image_status",
    "account_image_get",
    "account_image_read",
    "account_image_list",
    "account_image_delete",
    "account_image_export_target",
    "account_memory_status",
    "account_memory_preferences",
    "account_memory_list",
    "account_memory_get",
    "account_memory_create",
    "account_memory_update",
    "account_memory_set_status",
    "account_memory_delete",
    "account_memory_search",
    "account_memory_resolve_conflict",
    "account_memory_project",
    "account_memory_export",
    "account_memory_export_target",
    "account_memory_reindex",
    "account_memory_consolidation_preview",
    "account_memory_consolidation_list",
    "account_memory_consolidation_get",
    "account_memory_consolidation_apply",
    "account_memory_consolidation_undo",
    "browser_tool_result",
    "account_browser_download_target",
    "account_browser_prepare_delete",
    "account_browser_policy",
    "account_browser_policy_set",
    "account_memory_summary_create",
    "account_memory_summary_get",
    "account_memory_summary_list",
    "account_memory_summary_delete",
)

# What the library answers itself; a backend cannot take them over.
LIBRARY_COMMANDS = ("cancel", "shutdown")

_SOURCE = "quern-runtime's command table (src/protocol/command_table.cpp, listed in docs/backend.md)"


def check_command(name: object) -> str:
    """Returns name when a handler may be registered for it, else raises ValueError."""
    if not isinstance(name, str) or name not in COMMANDS:
        close = difflib.get_close_matches(str(name), COMMANDS, n=1)
        hint = f"; did you mean {close[0]!r}?" if close else ""
        raise ValueError(f"{name!r} is not an allowed command: the runtime forwards only the "
                         f"{len(COMMANDS)} commands of {_SOURCE}{hint}")
    if name in LIBRARY_COMMANDS:
        raise ValueError(f"{name!r} is answered by quern_runtime_backend itself: "
                         "use ctx.cancelled and @backend.on_shutdown instead of a handler")
    return name
