"""ZeZuvo Template System for parameterized DSL generation with performance tracking."""

# The module body's own imports are part of its namespace (no __all__), so
# they are re-exported here under the same names.
import hashlib as hashlib
import os as os
import time as time
from dataclasses import dataclass as dataclass
from dataclasses import field as field
from datetime import datetime as datetime
from pathlib import Path as Path
from typing import Any as Any
from typing import ClassVar, Self
from typing import Literal as Literal

import jinja2 as jinja2
from jinja2 import BaseLoader as BaseLoader
from jinja2 import Environment as Environment
from jinja2 import Template as Template
from jinja2 import meta as meta

from .zezuvo import PredicateId as PredicateId
from .zezuvo import ZeZuvoRuntime as ZeZuvoRuntime
from .zezuvo_dsl import ZeZuvoDSLLoader as ZeZuvoDSLLoader

# What the loader reports for one activation: (created_count, start_ids, all_ids).
_LoadResult = tuple[int, set[PredicateId], set[PredicateId]]

# ---------------------------------------------------------------- core records

@dataclass(slots=True)
class CachedTemplate:
    __hash__: ClassVar[None]  # type: ignore[assignment]
    template: Template
    mtime: float
    content_hash: str

@dataclass(slots=True)
class ActiveTemplate:
    __hash__: ClassVar[None]  # type: ignore[assignment]
    name: str
    dsl_text: str
    created_count: int
    start_ids: set[PredicateId]
    all_ids: set[PredicateId]
    activated_at: datetime
    raw_template: str | None = None
    template_parameters: dict[str, Any] | None = None
    template_source_id: str | None = None

@dataclass(slots=True)
class PerformanceEvent:
    __hash__: ClassVar[None]  # type: ignore[assignment]
    timestamp: datetime
    profit: float
    win: bool
    metadata: dict[str, Any] = field(default_factory=dict)

@dataclass(slots=True)
class PerformanceSummary:
    __hash__: ClassVar[None]  # type: ignore[assignment]
    name: str
    total_events: int
    total_profit: float
    win_count: int
    loss_count: int
    win_rate: float
    current_streak: int
    streak_type: str
    runtime_seconds: float
    first_event: datetime | None
    last_event: datetime | None
    avg_profit_per_trade: float

@dataclass(slots=True)
class TemplateMetadata:
    __hash__: ClassVar[None]  # type: ignore[assignment]
    instance_name: str
    template_source_id: str
    raw_template: str
    template_parameters: dict[str, Any]
    rendered_dsl: str
    activated_at: datetime
    created_count: int
    predicate_count: int
    start_predicate_count: int
    performance_summary: PerformanceSummary | None = None
    template_variables: set[str] | None = None
    validation_status: str | None = None
    last_checked: datetime | None = None

# -------------------------------------------------------------- report records

@dataclass(slots=True)
class SystemHealthReport:
    __hash__: ClassVar[None]  # type: ignore[assignment]
    total_templates: int
    total_active_instances: int
    templates_with_instances: int
    instances_with_performance: int
    total_system_profit: float
    total_system_events: int
    top_performers: list[tuple[str, float]]
    template_names: list[str]
    active_instance_names: list[str]
    report_generated_at: str

@dataclass(slots=True)
class TemplateValidationResult:
    __hash__: ClassVar[None]  # type: ignore[assignment]
    status: str
    template_variables: list[str]
    active_instances: int
    source_id: str
    errors: list[str]
    warnings: list[str]

@dataclass(slots=True)
class TemplateUsageStatistics:
    __hash__: ClassVar[None]  # type: ignore[assignment]
    total_instances: int
    total_templates: int
    template_usage_counts: dict[str, int]
    most_used_template: tuple[str, int] | None
    least_used_template: tuple[str, int] | None
    avg_instances_per_template: float
    unused_templates: list[str]

@dataclass(slots=True)
class SystemInfo:
    __hash__: ClassVar[None]  # type: ignore[assignment]
    total_templates: int
    total_active_instances: int

@dataclass(slots=True)
class TemplateDefinition:
    __hash__: ClassVar[None]  # type: ignore[assignment]
    source_id: str
    template_variables: list[str]
    raw_template: str

@dataclass(slots=True)
class ExportPerformanceData:
    __hash__: ClassVar[None]  # type: ignore[assignment]
    total_events: int
    total_profit: float
    win_rate: float
    current_streak: int
    streak_type: str

@dataclass(slots=True)
class InstanceConfiguration:
    __hash__: ClassVar[None]  # type: ignore[assignment]
    template_name: str
    template_parameters: dict[str, Any]
    rendered_dsl: str
    activated_at: str
    predicate_count: int
    start_predicate_count: int
    performance: ExportPerformanceData | None = None

@dataclass(slots=True)
class TemplateConfigurationExport:
    __hash__: ClassVar[None]  # type: ignore[assignment]
    export_timestamp: str
    system_info: SystemInfo
    templates: dict[str, TemplateDefinition]
    instances: dict[str, InstanceConfiguration]

@dataclass(slots=True)
class SystemMetrics:
    __hash__: ClassVar[None]  # type: ignore[assignment]
    total_profit: float
    total_events: int
    total_wins: int
    system_win_rate: float
    active_instances_with_data: int

@dataclass(slots=True)
class InstancePerformanceData:
    __hash__: ClassVar[None]  # type: ignore[assignment]
    instance_name: str
    template_name: str
    total_profit: float
    win_rate: float
    total_events: int
    current_streak: int

@dataclass(slots=True)
class TemplatePerformanceAggregate:
    __hash__: ClassVar[None]  # type: ignore[assignment]
    total_profit: float
    total_events: int
    total_wins: int
    instances: int

@dataclass(slots=True)
class PerformanceAnalytics:
    __hash__: ClassVar[None]  # type: ignore[assignment]
    system_metrics: SystemMetrics
    best_instance: InstancePerformanceData | None
    worst_instance: InstancePerformanceData | None
    best_template: tuple[str, TemplatePerformanceAggregate] | None
    template_performance: dict[str, TemplatePerformanceAggregate]
    all_performance_data: list[InstancePerformanceData]

# ------------------------------------------------------ more core records

@dataclass(slots=True)
class TemplateDebugInfo:
    __hash__: ClassVar[None]  # type: ignore[assignment]
    instance_name: str
    template_source_id: str
    template_variables: list[str]
    validation_status: str
    activated_at: str
    runtime_seconds: float
    predicate_count: int
    start_predicate_count: int
    performance_events_count: int
    has_performance_data: bool
    template_parameters: dict[str, Any]
    rendered_dsl_length: int
    raw_template_length: int

@dataclass(slots=True)
class ActiveTemplateSummary:
    __hash__: ClassVar[None]  # type: ignore[assignment]
    activated_at: datetime
    created_count: int
    predicate_count: int
    start_predicate_count: int

@dataclass(slots=True)
class TemplateInfo:
    __hash__: ClassVar[None]  # type: ignore[assignment]
    template_name: str
    source_id: str
    template_variables: list[str]
    active_instances: list[str]
    active_count: int

# --------------------------------------------------------------- compile cache

@dataclass(slots=True)
class TemplateCache:
    __hash__: ClassVar[None]  # type: ignore[assignment]
    _cache: dict[str, CachedTemplate] = field(default_factory=dict)
    def get_template(self, template_path: str, content: str) -> Template: ...
    def clear(self) -> None: ...

_template_cache: TemplateCache

# -------------------------------------------------------------------- executor

@dataclass(slots=True)
class ZeZuvoRuntimeTemplateExecutor:
    __hash__: ClassVar[None]  # type: ignore[assignment]
    zezuvo_runtime: ZeZuvoRuntime
    template_source_id: str
    # A new Environment(loader=BaseLoader(), trim_blocks=True, lstrip_blocks=True) per executor.
    jinja_env: Environment = ...
    _dsl_loader: ZeZuvoDSLLoader = field(init=False)
    _template_content: str = field(init=False)
    _template_vars: set[str] = field(init=False, default_factory=set)
    _compiled_template: Template | None = field(init=False, default=None)
    _active_templates: dict[str, ActiveTemplate] = field(default_factory=dict)
    _performance_events: dict[str, list[PerformanceEvent]] = field(default_factory=dict)

    # Construction and template sources.
    @classmethod
    def from_builtin(cls, runtime: ZeZuvoRuntime, template_name: str) -> Self: ...
    @classmethod
    def from_file(cls, runtime: ZeZuvoRuntime, template_path: str | os.PathLike[str]) -> Self: ...
    @classmethod
    def from_string(cls, runtime: ZeZuvoRuntime, template_content: str, source_id: str | None = None) -> Self: ...
    @classmethod
    def _create_from_content(cls, runtime: ZeZuvoRuntime, source_id: str, template_content: str) -> Self: ...
    def __post_init__(self) -> None: ...
    def _compile_template(self) -> None: ...
    def _extract_template_variables(self) -> None: ...

    # Variables, validation and rendering.
    def get_template_variables(self) -> set[str]: ...
    def validate_template_args(self, template_args: dict[str, Any]) -> tuple[bool, set[str]]: ...
    def populate_template(self, template_args: dict[str, Any]) -> str: ...

    # Activation lifecycle.
    def activate(
        self, name: str, dsl_text: str, enable: bool = True, template_parameters: dict[str, Any] | None = None
    ) -> _LoadResult: ...
    def deactivate(self, name: str) -> bool: ...
    def list_active(self) -> list[str]: ...
    def get_active_info(self, name: str) -> ActiveTemplate | None: ...
    def deactivate_all(self) -> int: ...
    def get_active_summary(self) -> dict[str, ActiveTemplateSummary]: ...
    def create_and_activate(self, name: str, template_args: dict[str, Any], enable: bool = True) -> _LoadResult: ...

    # Performance tracking and scoring.
    def state_update(self, name: str, event_data: dict[str, Any]) -> None: ...
    def score_get(self, name: str) -> list[dict[str, Any]]: ...
    def score_summary(self, name: str) -> PerformanceSummary: ...

    # Instance metadata and debug information.
    def get_comprehensive_metadata(self, name: str) -> TemplateMetadata | None: ...
    def get_all_active_metadata(self) -> dict[str, TemplateMetadata]: ...
    def get_template_debug_info(self, name: str) -> TemplateDebugInfo | None: ...

# ------------------------------------------------------ built-ins and builders

BUILTIN_TEMPLATES: dict[str, str]

def create_template_args_for_algo_flipper(
    algo_symbol: str,
    watch_symbol: str,
    trade_symbol: str,
    evict_symbol: str,
    timeframe: int,
    algo: str,
    qty: int,
    offset: float | None = None,
    profit_pts: int | None = None,
    loss_pts: int | None = None,
    flip_sides: str = "both",
) -> dict[str, Any]: ...
def create_symbol_config_for_flipper(
    algo_symbol: str,
    watch_symbol: str,
    trade_symbol: str,
    evict_symbol: str,
    timeframe: int | None = None,
    algo: str | None = None,
    qty: int | None = None,
) -> dict[str, Any]: ...

# --------------------------------------------------------------------- manager

@dataclass(slots=True)
class ZeZuvoMultiTemplateManager:
    __hash__: ClassVar[None]  # type: ignore[assignment]
    zezuvo_runtime: ZeZuvoRuntime
    _executors: dict[str, ZeZuvoRuntimeTemplateExecutor] = field(default_factory=dict)

    # Lookup and membership only: no length, iteration or item assignment.
    __iter__: ClassVar[None]
    def __getitem__(self, template_name: str) -> ZeZuvoRuntimeTemplateExecutor: ...
    def __contains__(self, template_name: str) -> bool: ...

    # Registry and source-conflict validation.
    def _get_executor(self, template_name: str) -> ZeZuvoRuntimeTemplateExecutor: ...
    def from_builtin(self, builtin_name: str, template_name: str | None = None) -> ZeZuvoRuntimeTemplateExecutor: ...
    def from_file(
        self, template_path: str | os.PathLike[str], template_name: str | None = None
    ) -> ZeZuvoRuntimeTemplateExecutor: ...
    def from_string(self, template_content: str, template_name: str) -> ZeZuvoRuntimeTemplateExecutor: ...
    def get_template_names(self) -> list[str]: ...
    def get_available_builtin_names(self) -> list[str]: ...
    def clear_template_cache(self) -> None: ...
    def remove_template(self, template_name: str) -> bool: ...

    # Hierarchical activation ("template_name.instance_name").
    def activate(
        self, template_name: str, instance_name: str, template_args: dict[str, Any], enable: bool = True
    ) -> _LoadResult: ...
    def activate_from_populated_dsl(
        self, template_name: str, instance_name: str, dsl_text: str, enable: bool = True
    ) -> _LoadResult: ...
    def deactivate(self, template_name: str, instance_name: str) -> bool: ...
    def deactivate_template(self, template_name: str) -> int: ...
    def deactivate_all(self) -> int: ...
    def list_all_active(self) -> list[str]: ...
    def list_active_for_template(self, template_name: str) -> list[str]: ...
    def get_active_summary(self) -> dict[str, ActiveTemplateSummary]: ...
    def get_template_info(self, template_name: str) -> TemplateInfo | None: ...

    # Delegated performance, template and metadata queries.
    def state_update(self, template_name: str, instance_name: str, event_data: dict[str, Any]) -> None: ...
    def get_performance_summary(self, template_name: str, instance_name: str) -> PerformanceSummary: ...
    def get_performance_events(self, template_name: str, instance_name: str) -> list[dict[str, Any]]: ...
    def get_all_performance_summaries(self) -> dict[str, PerformanceSummary]: ...
    def get_template_variables(self, template_name: str) -> set[str]: ...
    def validate_template_args(self, template_name: str, template_args: dict[str, Any]) -> tuple[bool, set[str]]: ...
    def preview_template(self, template_name: str, template_args: dict[str, Any]) -> str: ...
    def get_all_active_templates_comprehensive(self) -> dict[str, TemplateMetadata]: ...
    def get_template_instance_metadata(self, template_name: str, instance_name: str) -> TemplateMetadata | None: ...
    def get_template_debug_info(self, template_name: str, instance_name: str) -> TemplateDebugInfo | None: ...

    # System-wide reports.
    def get_system_health_report(self) -> SystemHealthReport: ...
    def validate_all_templates(self) -> dict[str, TemplateValidationResult]: ...
    def get_template_usage_statistics(self) -> TemplateUsageStatistics: ...
    def export_template_configurations(self, include_performance: bool = True) -> TemplateConfigurationExport: ...
    def get_performance_analytics(self) -> PerformanceAnalytics: ...
